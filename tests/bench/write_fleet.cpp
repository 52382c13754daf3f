// Writes collected fleets to disk for fleet_report_bench, from logs of real runs on the fake machine:
//   write_fleet FOLDER MACHINES RUNS...
// makes FOLDER/runsN for each N, MACHINES machines with N kept runs each, as the companion keeps them, and
// FOLDER/expected.csv, the fleet as Intune would list it, with some machines missing and some extra.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "fake/fleet_sample.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    (void)std::fputs("usage: write_fleet FOLDER MACHINES RUNS...\n", stderr);
    return 2;
  }
  namespace fs = std::filesystem;
  const std::size_t machines = std::stoul(argv[2]);
  for (int i = 3; i < argc; ++i) {
    const fs::path folder = fs::path(argv[1]) / (std::string("runs") + argv[i]);
    fs::remove_all(folder);
    fake::fleet::WriteKeptRuns(machines, std::stoul(argv[i]), [&folder](const std::string& path, const std::string& bytes) {
      const fs::path file = folder / path;
      fs::create_directories(file.parent_path());
      std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    });
    std::printf("%s: %zu machines, %s runs each\n", folder.c_str(), machines, argv[i]);
  }
  const auto list = fake::fleet::ExpectedList(machines);
  std::ofstream(fs::path(argv[1]) / "expected.csv", std::ios::binary)
      .write(list.csv.data(), static_cast<std::streamsize>(list.csv.size()));
  std::printf("%s: --missing=%zu --unexpected=%zu\n", (fs::path(argv[1]) / "expected.csv").c_str(), list.missing,
              list.unexpected);
  return 0;
}
