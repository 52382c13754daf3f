// The fleet as the administrator knows it, so that the report can name the machines that never reported:
// a text file with one machine name a line, or a CSV export of Intune, Configuration Manager or Active
// Directory whose machine names stand in a column named as each of them names it.
//
// The list is the administrator's, but it may be anything an export or an editor made: a name that no
// machine could bear is passed over and counted, never believed, and no line, however long, is held.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace result {

// The columns that hold machine names, the first one found in the header deciding: Intune's device
// list (as the admin center titles it, and as its report export names it), then Configuration
// Manager's and Active Directory's.
inline constexpr std::wstring_view kExpectedColumns[] = {L"Device name", L"DeviceName", L"Name", L"ComputerName",
                                                         L"DNSHostName"};

// Larger than an export of only the name column of any fleet; a list over it is refused.
inline constexpr std::size_t kMaxExpectedListBytes = 64U << 20;

// A DNS name holds at most 253 characters; a cell longer than this is no machine name.
inline constexpr std::size_t kMaxExpectedNameChars = 255;

struct ExpectedList {
  // Why the list can't be used; empty when it was read.
  std::wstring problem;
  // The CSV column the names came from; empty for a list of one name a line.
  std::wstring column;
  std::size_t duplicates = 0;       // names listed again, each machine counted once
  std::size_t passedOver = 0;       // lines or rows whose name is no machine name
  std::size_t firstPassedOver = 0;  // the line the first of them starts on

  // Marks the machine as reported; false when the list doesn't name it. A host name counts by its first
  // label ("pc01.corp.example.com" is PC01), and names compare case-blind.
  bool See(std::wstring_view machine);
  // The listed machines never seen, as the list names them, in name order.
  std::vector<std::wstring> Unseen() const;
  std::size_t size() const { return machines.size(); }

  struct Machine {
    std::string name;  // its first label as listed, UTF-8
    bool seen = false;
  };
  std::vector<Machine> machines;  // case-blind in name order, each once
};

// The list from its bytes: UTF-8 with or without a byte-order mark, or UTF-16 with one.
ExpectedList ParseExpectedList(std::span<const std::uint8_t> bytes);

// The list from its file, read whole up to kMaxExpectedListBytes.
ExpectedList ReadExpectedList(const std::wstring& path);

// What the report says of the list it used: how many machines, from which column, what it passed over.
std::wstring DescribeExpectedList(const ExpectedList& list, const std::wstring& path);

}  // namespace result
