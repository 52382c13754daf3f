// What PatchUpdateResult prints besides the utility's own console: its closing line and the lines that
// say what could not be kept. Read back by the end-to-end tests through the same texts.
#pragma once

namespace messages::companion {

inline constexpr wchar_t kUsage[] =
    L"Usage: PatchUpdateResult.exe                      runs PatchUpdate.exe beside it, exits with its outcome's code\n"
    L"       PatchUpdateResult.exe rules                the detection and requirement rules for this package's patch\n"
    L"       PatchUpdateResult.exe report FOLDER [CSV]  the outcomes of the logs collected under FOLDER\n"
    L"             [--expected LIST]                    and the machines LIST names that have none there\n"
    L"             [--html PAGE]                        the page to look at (else beside the CSV)\n"
    L"             [--parallel N]                       machines read at once (else 16, at most 128)\n";

// The closing line: "PatchUpdateResult: <outcome> (exit code N): <reason>".
inline constexpr wchar_t kClosingCode[] = L" (exit code ";
inline constexpr wchar_t kClosingReason[] = L"): ";

// Reasons the companion gives itself.
inline constexpr wchar_t kNotStarted[] = L"PatchUpdate.exe could not be started, error ";
inline constexpr wchar_t kFromConsole[] = L" (no log from this run; read from its console)";
inline constexpr wchar_t kInternalFailure[] = L"internal failure";
inline constexpr wchar_t kEndedDuringInstall[] =
    L"PatchUpdate.exe ended abnormally after the installer was started, exit code ";
inline constexpr wchar_t kEndedAbnormally[] = L"; PatchUpdate.exe ended with exit code ";
inline constexpr wchar_t kRestartCompletes[] = L"a restart completes the patch: the installer scheduled ";
inline constexpr wchar_t kRestartCompletesTail[] = L" to be replaced at the next restart";
inline constexpr wchar_t kRestartAlsoNeeded[] = L" (a restart is needed: files in ";
inline constexpr wchar_t kRestartAlsoNeededTail[] = L" are replaced at the next restart)";
// Said when the list of renames waiting for the restart is over kPendingRenamesLimit.
inline constexpr wchar_t kPendingTooLarge[] =
    L" (PendingFileRenameOperations is larger than 32 MiB and was not read: whether a restart completes the "
    L"patch is not known)";
// What the utility decided set against Vdt.exe's version after the run.
inline constexpr wchar_t kDecidedByRecord[] = L" (decided by installedupdates.dat, the installed-update record)";
inline constexpr wchar_t kDecidedByRevision[] = L" (decided by Vdt.exe's revision; no installed-update record)";
inline constexpr wchar_t kButVdtIn[] = L"; but Vdt.exe in ";
inline constexpr wchar_t kVdtIn[] = L"; Vdt.exe in ";
inline constexpr wchar_t kCarries[] = L" carries ";
inline constexpr wchar_t kBelowPatchVersion[] = L", below PatchVersion ";
inline constexpr wchar_t kAtOrAbovePatchVersion[] = L", at or above PatchVersion ";
inline constexpr wchar_t kLaterPatchTail[] = L" (a later patch is installed)";
inline constexpr wchar_t kNoVdtIn[] =
    L"; Veldorant 14.0 is registered, but there is no Vdt.exe with a file version in ";
inline constexpr wchar_t kNoInstallFolder[] = L"; Veldorant 14.0 is registered, but Installpath names no folder";
// One run at a time.
inline constexpr wchar_t kRunInProgress[] =
    L"another run of PatchUpdateResult.exe is in progress on this machine; PatchUpdate.exe was not started";
inline constexpr wchar_t kRunInProgressSince[] = L" (running since ";
inline constexpr wchar_t kRunLockForeign[] =
    L"PatchUpdateResult: the run lock Global\\Veldorant.PatchUpdateResult.Run was made by another account; this run "
    L"goes on without it\n";
inline constexpr wchar_t kRunLockFailed[] = L"PatchUpdateResult: the run lock could not be taken (error ";
inline constexpr wchar_t kRunLockFailedTail[] = L"); this run goes on without it\n";

// The results folder and the registry record: said, never a change of the exit code.
inline constexpr wchar_t kNotKept[] = L"PatchUpdateResult: the results of this run were not kept: ";
inline constexpr wchar_t kNoProgramData[] = L"the system names no ProgramData folder";
inline constexpr wchar_t kRefusedLink[] =
    L" is a junction, symbolic link or mount point; delete it and the next run makes it anew";
inline constexpr wchar_t kRefusedFile[] = L" is a file, not a folder; delete it and the next run makes it anew";
inline constexpr wchar_t kRefusedOwner[] =
    L" is owned by an account other than SYSTEM, Administrators, TrustedInstaller or the one this runs as; delete it "
    L"and the next run makes it anew";
inline constexpr wchar_t kRefusedVendorDacl[] =
    L" lets accounts other than SYSTEM, Administrators and TrustedInstaller delete or rename what is in it, or change "
    L"who may; nothing is kept where a standard user could take it away";
inline constexpr wchar_t kNotMovedAside[] = L" is not as this program makes it and could not be moved aside: ";
inline constexpr wchar_t kFolderFailed[] = L" could not be made or opened: ";
// A level of ours that was not exactly as we make it: "PatchUpdateResult: <level> was not made as this
// program makes it: moved aside to <name>, made anew".
inline constexpr wchar_t kMovedAside[] = L" was not made as this program makes it: moved aside to ";
inline constexpr wchar_t kMadeAnew[] = L", made anew\n";
// "PatchUpdateResult: N files of earlier runs carried over from <folder>".
inline constexpr wchar_t kCarriedOver[] = L" files of earlier runs carried over from ";
inline constexpr wchar_t kWriteFailed[] = L"writing in ";
inline constexpr wchar_t kCompanionPrefix[] = L"PatchUpdateResult: ";
inline constexpr wchar_t kRecordNotWritten[] = L"PatchUpdateResult: the registry record could not be written: HKLM\\";

// `rules`
inline constexpr wchar_t kRulesRefused[] = L"PatchUpdateResult: this package's patchupdate.dat is refused: ";

}  // namespace messages::companion
