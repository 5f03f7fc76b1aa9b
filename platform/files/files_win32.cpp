// Files and folders on the system's own file services: listings through FindFirstFileA, copies
// written under a hidden temporary name, flushed, and named over their target with MoveFileExA
// only while the target is still the file decided on.
#include <io.h>
#include <windows.h>
// The program's own functions of these names are meant, not the system's ANSI/wide macros.
#undef CreateDirectory
#undef FindFirstFile
#undef MoveFile

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/files/copies.h"
#include "platform/files/copy_steps.h"
#include "platform/files/files.h"
#include "platform/files/moved_aside.h"
#include "platform/files/phrase.h"
#include "platform/volumes/drives.h"

namespace tarnwick::platform {

namespace {

constexpr DWORD kCopyBlock = 1 << 20;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// An open folder is held against renames and removal: every call below it goes by its path, so
// a folder renamed and replaced by a junction meanwhile would lead the calls elsewhere.
constexpr DWORD kHeldFolder = FILE_SHARE_READ | FILE_SHARE_WRITE;

std::atomic<std::uint64_t> gDirectoryIds{1};
std::atomic<std::uint64_t> gTemporarySequence{0};

// The system's error of the call that just failed (or the one given), with what it concerned.
FileError SystemError(FileConcern concerns, DWORD error = ::GetLastError()) {
    return {FileRefusal::kSystem, static_cast<int>(error), concerns};
}

FileError Refused(FileRefusal refusal) {
    return {refusal, 0, FileConcern::kTarget};
}

bool NameTaken(DWORD error) {
    return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
}

// A name of an entry of a folder: not empty, no separator, wildcard or other character the
// system refuses in names ('?' is what the ANSI services make of a character they cannot
// write), not "." or "..".
bool IsPlainName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("\\/:*?\"<>|") == std::string_view::npos &&
           std::none_of(name.begin(), name.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 32; });
}

HANDLE HandleOf(int fd) {
    return fd < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

// The handle owned by a C runtime descriptor (closed with it); -1 when none could be had.
int DescriptorOf(HANDLE handle) {
    if (handle == INVALID_HANDLE_VALUE) {
        return -1;
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), 0);
    if (fd < 0) {
        ::CloseHandle(handle);
    }
    return fd;
}

std::uint64_t Combined(DWORD high, DWORD low) {
    return (std::uint64_t{high} << 32) | low;
}

FileTime FromFiletime(const FILETIME& time) {
    return Combined(time.dwHighDateTime, time.dwLowDateTime);
}

FILETIME ToFiletime(FileTime time) {
    return FILETIME{static_cast<DWORD>(time & 0xFFFFFFFFU), static_cast<DWORD>(time >> 32)};
}

std::string Child(const std::string& folder, std::string_view name) {
    std::string path = folder;
    if (path.empty() || path.back() != '\\') {
        path.push_back('\\');
    }
    return path.append(name);
}

// Opens an entry for its attributes only; `follow` false opens a link itself.
HANDLE OpenEntry(const std::string& path, bool follow, DWORD access = FILE_READ_ATTRIBUTES) {
    return ::CreateFileA(path.c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT),
                         nullptr);
}

std::optional<BY_HANDLE_FILE_INFORMATION> InformationOf(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (handle == INVALID_HANDLE_VALUE || !::GetFileInformationByHandle(handle, &info)) {
        return std::nullopt;
    }
    return info;
}

std::optional<BY_HANDLE_FILE_INFORMATION> InformationAt(const std::string& path, bool follow) {
    const HANDLE handle = OpenEntry(path, follow);
    if (handle == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    auto info = InformationOf(handle);
    ::CloseHandle(handle);
    return info;
}

std::uint32_t Attributes(DWORD native) {
    std::uint32_t attributes = native & (kAttributeReadOnly | kAttributeHidden |
                                         kAttributeDirectory | kAttributeReparsePoint);
    if ((native & FILE_ATTRIBUTE_DEVICE) != 0) {
        attributes |= kAttributeDevice;
    }
    return attributes == 0 ? kAttributeNormal : attributes;
}

// What a listing or a lookup tells of an entry: links followed (a link that leads nowhere is
// reported as itself), identity for folders, which a walk has to recognise on its path.
FindData EntryData(const std::string& folder, const WIN32_FIND_DATAA& found) {
    FindData data;
    data.name = found.cFileName;
    data.attributes = Attributes(found.dwFileAttributes);
    data.lastWriteTime = FromFiletime(found.ftLastWriteTime);
    data.size = Combined(found.nFileSizeHigh, found.nFileSizeLow);
    const bool link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    const bool folderEntry = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (link || folderEntry) {
        if (const auto info = InformationAt(Child(folder, found.cFileName), true)) {
            data.attributes =
                Attributes(info->dwFileAttributes) | (link ? kAttributeReparsePoint : 0);
            data.lastWriteTime = FromFiletime(info->ftLastWriteTime);
            data.size = Combined(info->nFileSizeHigh, info->nFileSizeLow);
            data.device = info->dwVolumeSerialNumber;
            data.inode = Combined(info->nFileIndexHigh, info->nFileIndexLow);
        }
    }
    if ((data.attributes & kAttributeDirectory) != 0) {
        data.size = 0;
    }
    return data;
}

std::optional<FindData> FindAt(const std::string& folder, const std::string& pattern) {
    WIN32_FIND_DATAA found{};
    const HANDLE find = ::FindFirstFileA(pattern.c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    ::FindClose(find);
    return EntryData(folder, found);
}

std::string FolderOf(const std::string& path) {
    const std::size_t last = path.find_last_of('\\');
    if (last == std::string::npos) {
        return path;
    }
    return last == 2 ? path.substr(0, 3) : path.substr(0, last);
}

void FormatTemporaryName(char (&buffer)[64]) {
    char* out = std::copy(kTemporaryPrefix.begin(), kTemporaryPrefix.end(), buffer);
    out = std::to_chars(out, buffer + 32, static_cast<std::uint64_t>(::GetCurrentProcessId())).ptr;
    *out++ = '-';
    out = std::to_chars(out, buffer + 54, gTemporarySequence.fetch_add(1)).ptr;
    out = std::copy(kTemporarySuffix.begin(), kTemporarySuffix.end(), out);
    *out = '\0';
}

// The same file, unchanged: its id, size and both times as they were.
bool SameState(const TargetState& now, const TargetState& then) {
    return now.exists && then.exists && now.device == then.device && now.inode == then.inode &&
           now.size == then.size && now.modifiedSeconds == then.modifiedSeconds &&
           now.changedSeconds == then.changedSeconds;
}

TargetState StateOf(const BY_HANDLE_FILE_INFORMATION& info) {
    TargetState state;
    state.exists = true;
    state.device = info.dwVolumeSerialNumber;
    state.inode = Combined(info.nFileIndexHigh, info.nFileIndexLow);
    state.size = Combined(info.nFileSizeHigh, info.nFileSizeLow);
    // The times in the fields of the Linux clock, as whole FILETIME values.
    state.modifiedSeconds = static_cast<std::int64_t>(FromFiletime(info.ftLastWriteTime));
    state.changedSeconds = static_cast<std::int64_t>(FromFiletime(info.ftCreationTime));
    return state;
}

// The target as it is now (a link taken as itself); exists false where there is none.
FileError StateOfTarget(const std::string& path, TargetState& state) {
    state = TargetState{};
    const HANDLE handle = OpenEntry(path, false);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? FileError{}
                                             : SystemError(FileConcern::kTarget, error);
    }
    const auto info = InformationOf(handle);
    const DWORD error = ::GetLastError();
    ::CloseHandle(handle);
    if (!info) {
        return SystemError(FileConcern::kTarget, error);
    }
    state = StateOf(*info);
    return {};
}

// Renames the file of an open handle, never over an existing entry: 0, or the system's error.
DWORD RenameHeld(HANDLE file, const std::string& to) {
    const int length = ::MultiByteToWideChar(CP_ACP, 0, to.c_str(), -1, nullptr, 0);
    if (length <= 0) {
        return ::GetLastError();
    }
    std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + sizeof(WCHAR) * length);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(sizeof(WCHAR) * (length - 1));
    ::MultiByteToWideChar(CP_ACP, 0, to.c_str(), -1, rename->FileName, length);
    return ::SetFileInformationByHandle(file, FileRenameInfo, rename,
                                        static_cast<DWORD>(buffer.size()))
               ? 0
               : ::GetLastError();
}

// The hidden name under which a file of the user's waits while a copy takes its name.
std::string AsideName(std::string_view name) {
    std::string aside = AsideNameOf(name, ::GetCurrentProcessId(), gTemporarySequence.fetch_add(1));
    return aside.size() <= MAX_PATH ? aside : std::string();
}

std::string_view NameBeforeAside(std::string_view aside) {
    const std::string_view own = OwnNameIn(aside);
    return IsPlainName(own) ? own : std::string_view();
}

// Gives a file that was moved aside its name `name` in `folder` back, or, where a newer file has
// taken the name, a visible name beside it. `rename` renames the file (never over an entry) and
// answers 0 or the system's error.
template <typename Rename>
Restored GiveNameBack(const std::string& folder, std::string_view name, const Rename& rename) {
    DWORD error = rename(Child(folder, name));
    if (error == 0) {
        return Restored::kOwnName;
    }
    for (int number = 1; number <= kMostKeptBeside && NameTaken(error); ++number) {
        error = rename(Child(folder, KeptBesideName(name, number)));
        if (error == 0) {
            return Restored::kBeside;
        }
    }
    return Restored::kFailed;
}

// Gives the temporary file its name where the target is still the file it was written for (or,
// for a copy to a free name, where the name is still free). The target is held open from the
// look to its removal, sharing neither writes nor a second removal: the file looked at is the
// file displaced, unchanged, and one that someone has open for writing is left as it is. It is
// moved aside under a hidden name through that handle before the copy takes the name; should the
// program end in between, the next pass gives it its name back. The temporary file is removed
// whenever it does not get the name.
FileError GiveName(const std::string& temporaryPath, const std::string& targetPath,
                   const TargetState& target) {
    const std::string folder = FolderOf(targetPath);
    const std::string name = targetPath.substr(targetPath.find_last_of('\\') + 1);
    FileError failed;
    if (!target.exists) {
        CopyStepReached(CopyStep::kNamed, name);
        // Without MOVEFILE_REPLACE_EXISTING the move refuses a name that was taken meanwhile.
        if (!::MoveFileExA(temporaryPath.c_str(), targetPath.c_str(), MOVEFILE_WRITE_THROUGH)) {
            const DWORD error = ::GetLastError();
            failed = NameTaken(error) ? Refused(FileRefusal::kTargetChanged)
                                      : SystemError(FileConcern::kTarget, error);
        }
    } else {
        CopyStepReached(CopyStep::kLooked, name);
        const HANDLE held = ::CreateFileA(
            targetPath.c_str(), DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr,
            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        const DWORD openError = ::GetLastError();
        const auto info = InformationOf(held);
        if (held == INVALID_HANDLE_VALUE) {
            // Gone, or in use by another program: left alone, as a target changed meanwhile.
            failed = openError == ERROR_SHARING_VIOLATION || openError == ERROR_FILE_NOT_FOUND
                         ? Refused(FileRefusal::kTargetChanged)
                         : SystemError(FileConcern::kTarget, openError);
        } else if (!info) {
            failed = SystemError(FileConcern::kTarget);
        } else if (!SameState(StateOf(*info), target)) {
            // The one look, on the very file that is displaced.
            failed = Refused(FileRefusal::kTargetChanged);
        } else {
            const std::string aside = AsideName(name);
            CopyStepReached(CopyStep::kMovedAside, name);
            const DWORD asideError =
                aside.empty() ? ERROR_FILENAME_EXCED_RANGE : RenameHeld(held, Child(folder, aside));
            if (asideError != 0) {
                failed = SystemError(FileConcern::kTarget, asideError);
            } else {
                CopyStepReached(CopyStep::kNamed, name);
                if (::MoveFileExA(temporaryPath.c_str(), targetPath.c_str(),
                                  MOVEFILE_WRITE_THROUGH)) {
                    CopyStepReached(CopyStep::kRemoved, name);
                    FILE_DISPOSITION_INFO remove{TRUE};
                    ::SetFileInformationByHandle(held, FileDispositionInfo, &remove, sizeof remove);
                } else {
                    const DWORD error = ::GetLastError();
                    // A new file took the name meanwhile: it is the user's latest, and the old
                    // one stays beside it.
                    GiveNameBack(folder, name,
                                 [held](const std::string& to) { return RenameHeld(held, to); });
                    failed = NameTaken(error) ? Refused(FileRefusal::kTargetChanged)
                                              : SystemError(FileConcern::kTarget, error);
                }
            }
        }
        if (held != INVALID_HANDLE_VALUE) {
            ::CloseHandle(held);
        }
    }
    if (failed) {
        CopyStepReached(CopyStep::kRemoved, name);
        ::DeleteFileA(temporaryPath.c_str());
    }
    return failed;
}

// 0, or the system's error of the read or write that failed.
DWORD WriteAll(HANDLE out, const char* data, DWORD size) {
    while (size > 0) {
        DWORD written = 0;
        if (!::WriteFile(out, data, size, &written, nullptr)) {
            return ::GetLastError();
        }
        if (written == 0) {
            return ERROR_WRITE_FAULT;
        }
        data += written;
        size -= written;
    }
    return 0;
}

FileError CopyContents(HANDLE in, HANDLE out) {
    std::vector<char> buffer(kCopyBlock);
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(in, buffer.data(), kCopyBlock, &got, nullptr)) {
            return SystemError(FileConcern::kSource);
        }
        if (got == 0) {
            return {};
        }
        if (const DWORD error = WriteAll(out, buffer.data(), got)) {
            return SystemError(FileConcern::kTarget, error);
        }
    }
}

// The clock of FAT volumes: the system converts their local times itself, so only the times
// FAT can hold are left to know (the local offset now bounds its range).
std::int64_t LocalOffsetSeconds() {
    TIME_ZONE_INFORMATION zone{};
    const DWORD which = ::GetTimeZoneInformation(&zone);
    LONG bias = zone.Bias;
    if (which == TIME_ZONE_ID_DAYLIGHT) {
        bias += zone.DaylightBias;
    } else if (which == TIME_ZONE_ID_STANDARD) {
        bias += zone.StandardBias;
    }
    return -static_cast<std::int64_t>(bias) * 60;
}

}  // namespace

std::optional<FatClock> FatClockOfDevice(std::uint64_t device) {
    char roots[27 * 4 + 1] = {};
    const DWORD length = ::GetLogicalDriveStringsA(sizeof roots - 1, roots);
    if (length == 0 || length >= sizeof roots) {
        return std::nullopt;
    }
    const UINT previous = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    std::optional<FatClock> clock;
    for (const char* root = roots; *root != '\0'; root += std::strlen(root) + 1) {
        DWORD serial = 0;
        char system[MAX_PATH + 1] = {};
        if (::GetVolumeInformationA(root, nullptr, 0, &serial, nullptr, nullptr, system,
                                    sizeof system) &&
            serial == device) {
            if (std::string_view(system).starts_with("FAT")) {
                // The system converts with today's offset whatever the time, as it reads FAT.
                clock = FatClock{0, 0, [](std::int64_t) {
                                     return static_cast<std::int32_t>(LocalOffsetSeconds());
                                 }};
            }
            break;
        }
    }
    ::SetErrorMode(previous);
    return clock;
}

// --- Errors --------------------------------------------------------------------------------

std::string FileErrorText(int error) {
    char* message = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(error), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<LPSTR>(&message), 0, nullptr);
    std::string text = length > 0 && message != nullptr ? std::string(message, length)
                                                        : "error " + std::to_string(error);
    ::LocalFree(message);
    // The system's sentence ends in a full stop and a line end ("Access denied.\r\n").
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.' ||
                             text.back() == ' ')) {
        text.pop_back();
    }
    return AsPhrase(std::move(text));
}

bool IsLostVolumeError(int error) {
    switch (error) {
        case ERROR_NOT_READY:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_NETNAME_DELETED:
        case ERROR_BAD_NETPATH:
        case ERROR_UNEXP_NET_ERR:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_NO_MEDIA_IN_DRIVE:
        case ERROR_CRC:
        case ERROR_SEM_TIMEOUT:
            return true;
        default:
            return false;
    }
}

bool FileError::RanOutOfDescriptors() const {
    return refusal == FileRefusal::kSystem &&
           (error == ERROR_TOO_MANY_OPEN_FILES || error == ERROR_NO_SYSTEM_RESOURCES);
}

bool FileError::LostVolume() const {
    return error != 0 && IsLostVolumeError(error);
}

bool FileError::Missing() const {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool FileError::NameTaken() const {
    return platform::NameTaken(static_cast<DWORD>(error));
}

bool FileError::InTheWay() const {
    // ERROR_DIRECTORY: what OpenFolder answers for a name that is not a folder.
    return refusal == FileRefusal::kSystem && (NameTaken() || error == ERROR_DIRECTORY);
}

// --- Lookups by drive path -----------------------------------------------------------------

std::optional<FindData> FindFirstFile(std::string_view pattern) {
    const auto native = ToNativePath(pattern);
    if (!native) {
        return std::nullopt;
    }
    return FindAt(FolderOf(*native), *native);
}

// --- Directory -----------------------------------------------------------------------------

Directory::Directory(int fd) : fd_(fd), id_(gDirectoryIds.fetch_add(1)) {}

void Directory::Close() {
    if (fd_ >= 0) {
        ::_close(fd_);
        fd_ = -1;
    }
}

namespace {

// Opens a folder at a native path; a link is opened only where `follow` is set. The handle keeps
// the folder from being renamed or removed while it is open (kHeldFolder). -1 where it cannot be
// opened as a folder, with the system's error in `error`.
int OpenFolder(const std::string& path, bool follow, DWORD& error) {
    const HANDLE handle = ::CreateFileA(
        path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, kHeldFolder, nullptr,
        OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = ::GetLastError();
        return -1;
    }
    const auto info = InformationOf(handle);
    if (!info || (info->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (!follow && (info->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)) {
        error = !info ? ::GetLastError()
                : (info->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0
                    ? ERROR_CANT_ACCESS_FILE
                    : ERROR_DIRECTORY;
        ::CloseHandle(handle);
        return -1;
    }
    const int fd = DescriptorOf(handle);
    if (fd < 0) {
        error = ERROR_TOO_MANY_OPEN_FILES;
    }
    return fd;
}

}  // namespace

std::optional<Directory> Directory::Open(std::string_view drivePath) {
    auto native = ToNativePath(drivePath);
    if (!native) {
        return std::nullopt;
    }
    while (native->size() > 3 && native->back() == '\\') {
        native->pop_back();
    }
    DWORD error = 0;
    const int fd = OpenFolder(*native, true, error);
    if (fd < 0) {
        return std::nullopt;
    }
    Directory folder(fd);
    folder.native_ = std::move(*native);
    return folder;
}

// Every folder of the path is opened as itself (a junction, a link or a mount point is refused)
// and held, without sharing its removal or renaming, until the last one is open: the path text
// names the very folders looked at, and all of them lie on the drive's own volume.
std::optional<Directory> Directory::OpenOnDrive(std::string_view drivePath, bool make,
                                                std::int32_t* made, FileError* why) {
    std::int32_t madeHere = 0;
    const auto fail = [&](DWORD error) -> std::optional<Directory> {
        if (made != nullptr) {
            *made = madeHere;
        }
        if (why != nullptr) {
            *why = SystemError(FileConcern::kFolder, error);
        }
        return std::nullopt;
    };
    if (drivePath.size() < 2 || drivePath[1] != ':') {
        return fail(ERROR_PATH_NOT_FOUND);
    }
    const auto native = ToNativePath(drivePath);
    const auto root = ToNativePath(std::string(drivePath.substr(0, 2)) + "\\");
    if (!native || !root || native->size() < root->size() ||
        ::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, native->data(),
                         static_cast<int>(root->size()), root->data(),
                         static_cast<int>(root->size())) != CSTR_EQUAL) {
        return fail(ERROR_PATH_NOT_FOUND);
    }
    DWORD error = 0;
    const int rootFd = OpenFolder(*root, true, error);
    if (rootFd < 0) {
        return fail(error);
    }
    std::vector<Directory> path;
    path.push_back(Directory(rootFd));
    path.back().native_ = *root;
    const std::uint64_t volume = path.back().Device();
    std::string_view rest = std::string_view(*native).substr(root->size());
    while (!rest.empty()) {
        const std::size_t end = rest.find('\\');
        const std::string_view name = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (name.empty()) {
            continue;
        }
        if (!IsPlainName(name)) {
            return fail(ERROR_INVALID_NAME);
        }
        std::string next = Child(path.back().native_, name);
        int fd = OpenFolder(next, false, error);
        if (fd < 0 && make && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)) {
            if (::CreateDirectoryA(next.c_str(), nullptr)) {
                ++madeHere;
            } else if (!NameTaken(::GetLastError())) {
                return fail(::GetLastError());
            }
            fd = OpenFolder(next, false, error);
        }
        if (fd < 0) {
            return fail(error);
        }
        path.push_back(Directory(fd));
        path.back().native_ = std::move(next);
        if (path.back().Device() != volume) {
            return fail(ERROR_NOT_SAME_DEVICE);
        }
    }
    if (made != nullptr) {
        *made = madeHere;
    }
    return std::move(path.back());
}

std::optional<Directory> Directory::OpenChild(const std::string& name, bool followLinks,
                                              FileError* why) const {
    if (!IsOpen() || !IsPlainName(name)) {
        if (why != nullptr) {
            *why = SystemError(FileConcern::kFolder, ERROR_INVALID_NAME);
        }
        return std::nullopt;
    }
    std::string path = Child(native_, name);
    DWORD error = 0;
    const int fd = OpenFolder(path, followLinks && !refusesLinks_, error);
    if (fd < 0) {
        if (why != nullptr) {
            *why = SystemError(FileConcern::kFolder, error);
        }
        return std::nullopt;
    }
    Directory child(fd);
    child.native_ = std::move(path);
    child.refusesLinks_ = refusesLinks_;
    return child;
}

bool Directory::IsLink(const std::string& name) const {
    const DWORD attributes = ::GetFileAttributesA(Child(native_, name).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool Directory::Contains(const Directory& folder) const {
    if (Device() == folder.Device() && Inode() == folder.Inode()) {
        return true;
    }
    const std::string& inner = folder.native_;
    std::string outer = native_;
    if (outer.back() != '\\') {
        outer.push_back('\\');
    }
    return inner.size() > outer.size() &&
           ::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, inner.data(),
                            static_cast<int>(outer.size()), outer.data(),
                            static_cast<int>(outer.size())) == CSTR_EQUAL;
}

bool Directory::OnPseudoFileSystem() const {
    return false;
}

// The whole listing is read on the first call, packed as records of a kind byte and a
// NUL-terminated name, so that no search handle stays open between calls.
std::optional<std::string_view> Directory::Next() {
    if (!listingDone_) {
        listingDone_ = true;
        std::string packed;
        WIN32_FIND_DATAA found{};
        const HANDLE find = ::FindFirstFileA(Child(native_, "*").c_str(), &found);
        if (find == INVALID_HANDLE_VALUE) {
            listingError_ = SystemError(FileConcern::kFolder);
        } else {
            do {
                const std::string_view name = found.cFileName;
                if (name == "." || name == "..") {
                    continue;
                }
                if (!IsPlainName(name)) {
                    ++leftOut_;  // a name the ANSI services cannot write
                    continue;
                }
                EntryKind kind = EntryKind::kFile;
                if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
                    kind = EntryKind::kUnknown;
                } else if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                    kind = EntryKind::kFolder;
                }
                packed.push_back(static_cast<char>(kind));
                packed.append(name);
                packed.push_back('\0');
            } while (::FindNextFileA(find, &found));
            // A listing that ends for another reason than its end is not whole.
            if (const DWORD error = ::GetLastError(); error != ERROR_NO_MORE_FILES) {
                listingError_ = SystemError(FileConcern::kFolder, error);
            }
            ::FindClose(find);
        }
        listing_ = std::make_unique<char[]>(packed.size() + 1);
        std::memcpy(listing_.get(), packed.data(), packed.size());
        listingPosition_ = 0;
        listingEnd_ = packed.size();
    }
    if (listingPosition_ >= listingEnd_) {
        return std::nullopt;
    }
    const char* record = listing_.get() + listingPosition_;
    lastKind_ = static_cast<EntryKind>(record[0]);
    const std::string_view name(record + 1);
    listingPosition_ += name.size() + 2;
    return name;
}

std::optional<FindData> Directory::Lookup(const std::string& name) const {
    if (!IsOpen() || !IsPlainName(name)) {
        return std::nullopt;
    }
    return FindAt(native_, Child(native_, name));
}

bool Directory::LastIsFolder(std::string_view name) const {
    if (lastKind_ != EntryKind::kUnknown) {
        return lastKind_ == EntryKind::kFolder;
    }
    const auto found = Lookup(std::string(name));
    return found && (found->attributes & kAttributeDirectory) != 0;
}

bool Directory::MakeChild(const std::string& name, FileError* why) const {
    if (IsOpen() && IsPlainName(name) &&
        ::CreateDirectoryA(Child(native_, name).c_str(), nullptr)) {
        return true;
    }
    if (why != nullptr) {
        *why = SystemError(FileConcern::kFolder,
                           IsOpen() && IsPlainName(name) ? ::GetLastError() : ERROR_INVALID_NAME);
    }
    return false;
}

void Directory::LoadIdentity() const {
    if (const auto info = InformationOf(HandleOf(fd_))) {
        device_ = info->dwVolumeSerialNumber;
        inode_ = Combined(info->nFileIndexHigh, info->nFileIndexLow);
    }
    identityKnown_ = true;
}

std::uint64_t Directory::Device() const {
    if (!identityKnown_) {
        LoadIdentity();
    }
    return device_;
}

std::uint64_t Directory::Inode() const {
    if (!identityKnown_) {
        LoadIdentity();
    }
    return inode_;
}

// The system keeps no permission bits and gives a renamed file its own time; each copy is made
// durable by itself (FlushFileBuffers), its name by MOVEFILE_WRITE_THROUGH.
void Directory::LoadVolumeTraits() const {
    traitsKnown_ = true;
}

bool Directory::RestampsOnRename() const {
    return false;
}

bool Directory::SerialisesRequests() const {
    return false;
}

Directory::Permissions Directory::KeepsPermissions() const {
    return Permissions::kNone;
}

Directory::Durability Directory::CopyDurability() const {
    return Durability::kEachFile;
}

bool RemoveLeftoverCopy(const Directory& folder, const std::string& name) {
    if (!folder.IsOpen() || !IsTemporaryCopyName(name)) {
        return false;
    }
    // A copy being written holds its file open without sharing deletion: that one stays.
    return ::DeleteFileA(Child(folder.native_, name).c_str()) != FALSE;
}

bool IsFileMovedAside(std::string_view name) {
    return !NameBeforeAside(name).empty();
}

FilesGivenBack Directory::RemoveLeftoverCopies() const {
    FilesGivenBack givenBack;
    WIN32_FIND_DATAA found{};
    const HANDLE find = ::FindFirstFileA(Child(native_, ".tarnwick-*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) {
        return givenBack;
    }
    std::vector<std::string> names;
    do {
        if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
                0 &&
            (IsTemporaryCopyName(found.cFileName) || IsFileMovedAside(found.cFileName))) {
            names.emplace_back(found.cFileName);
        }
    } while (::FindNextFileA(find, &found));
    ::FindClose(find);
    for (const std::string& name : names) {
        if (IsTemporaryCopyName(name)) {
            RemoveLeftoverCopy(*this, name);
            continue;
        }
        // A file of the user's that a copy had moved aside when the program ended. A copy at
        // work holds the file it moves aside without sharing its renaming, so that one stays.
        const std::string aside = Child(native_, name);
        const auto rename = [&aside](const std::string& to) -> DWORD {
            return ::MoveFileA(aside.c_str(), to.c_str()) ? 0 : ::GetLastError();
        };
        CountGivenBack(givenBack, GiveNameBack(native_, NameBeforeAside(name), rename));
    }
    return givenBack;
}

// --- Copies --------------------------------------------------------------------------------

std::shared_ptr<HeldFolder> HeldFolder::Hold(const Directory& folder,
                                             const std::function<bool()>& /*going*/,
                                             FileError* why) {
    HANDLE duplicate = INVALID_HANDLE_VALUE;
    if (!folder.IsOpen() ||
        !::DuplicateHandle(::GetCurrentProcess(), HandleOf(folder.NativeHandle()),
                           ::GetCurrentProcess(), &duplicate, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        if (why != nullptr) {
            *why = SystemError(FileConcern::kFolder,
                               folder.IsOpen() ? ::GetLastError() : ERROR_INVALID_HANDLE);
        }
        return nullptr;
    }
    auto held = std::make_shared<HeldFolder>();
    held->handle_ = reinterpret_cast<std::intptr_t>(duplicate);
    held->id_ = folder.Id();
    held->device_ = folder.Device();
    return held;
}

HeldFolder::~HeldFolder() {
    if (handle_ != -1) {
        ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
    }
}

namespace {

// The native path of a held folder, from its handle.
std::string HeldPath(std::intptr_t handle) {
    char path[MAX_PATH + 8] = {};
    const DWORD length =
        ::GetFinalPathNameByHandleA(reinterpret_cast<HANDLE>(handle), path, sizeof path,
                                    FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= sizeof path) {
        return {};
    }
    std::string_view text(path, length);
    if (text.starts_with("\\\\?\\")) {
        text.remove_prefix(4);
    }
    return std::string(text);
}

}  // namespace

// Copies here are made durable one by one (Durability::kEachFile) and their names written
// through, so nothing is left for a flush of the volume or the folder to do.
FileError HeldFolder::FlushVolume() const {
    return {};
}

FileError HeldFolder::FlushFolder() const {
    return {};
}

FileError HeldFolder::Name(const WaitingCopy& copy) const {
    const std::string folder = HeldPath(handle_);
    if (folder.empty()) {
        return SystemError(FileConcern::kFolder);
    }
    const std::string temporary = Child(folder, copy.temporary);
    // A waiting copy is flushed before it takes its name.
    const HANDLE file =
        ::CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE || !::FlushFileBuffers(file)) {
        const FileError failed{FileRefusal::kNotDurable, static_cast<int>(::GetLastError()),
                               FileConcern::kTarget};
        if (file != INVALID_HANDLE_VALUE) {
            ::CloseHandle(file);
        }
        ::DeleteFileA(temporary.c_str());
        return failed;
    }
    ::CloseHandle(file);
    return GiveName(temporary, Child(folder, copy.toName), copy.target);
}

void HeldFolder::Remove(const char* temporary) const {
    ::DeleteFileA(Child(HeldPath(handle_), temporary).c_str());
}

namespace {

// Removes a copy's temporary file, which lies in the folder of its target's path.
void RemoveUnnamed(const std::string& targetPath, char (&temporary)[64]) {
    if (temporary[0] != '\0') {
        ::DeleteFileA(Child(FolderOf(targetPath), temporary).c_str());
        temporary[0] = '\0';
    }
}

void CloseOut(std::intptr_t& out) {
    if (out != -1) {
        ::CloseHandle(reinterpret_cast<HANDLE>(out));
        out = -1;
    }
}

}  // namespace

// `toName_` holds the target's whole native path here, so the temporary file lies in its folder.
void TemporaryCopy::Discard() {
    CloseOut(out_);
    RemoveUnnamed(toName_, temporary_);
}

std::optional<TemporaryCopy> TemporaryCopy::Write(
    const Directory& from, const std::string& name, const Directory& to, const std::string& toName,
    bool failIfExists, std::optional<FileTime> lastWrite, const FindData* decidedOn,
    const HeldFolder* /*held*/, bool /*waits*/, FileError& why) {
    why = {};
    if (!from.IsOpen() || !to.IsOpen() || !IsPlainName(name) || !IsPlainName(toName)) {
        why = SystemError(
            from.IsOpen() && IsPlainName(name) ? FileConcern::kTarget : FileConcern::kSource,
            ERROR_INVALID_NAME);
        return std::nullopt;
    }
    const std::string targetPath = Child(to.native_, toName);
    TargetState targetState;
    CopyStepReached(CopyStep::kDecided, toName);
    if (failIfExists) {
        if (::GetFileAttributesA(targetPath.c_str()) != INVALID_FILE_ATTRIBUTES) {
            why = SystemError(FileConcern::kTarget, ERROR_FILE_EXISTS);
            return std::nullopt;
        }
    } else {
        if ((why = StateOfTarget(targetPath, targetState))) {
            return std::nullopt;
        }
        if (targetState.exists) {
            const DWORD attributes = ::GetFileAttributesA(targetPath.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES &&
                (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                why = Refused(FileRefusal::kNotAFile);
                return std::nullopt;
            }
            if (attributes != INVALID_FILE_ATTRIBUTES &&
                (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
                why = Refused(FileRefusal::kReadOnly);
                return std::nullopt;
            }
            if (decidedOn != nullptr &&
                !(decidedOn->size == targetState.size &&
                  decidedOn->lastWriteTime == static_cast<FileTime>(targetState.modifiedSeconds))) {
                why = Refused(FileRefusal::kTargetChanged);  // changed since the decision
                return std::nullopt;
            }
        } else if (decidedOn != nullptr) {
            why = Refused(FileRefusal::kTargetChanged);  // a target decided on that is gone
            return std::nullopt;
        }
    }

    const HANDLE in = ::CreateFileA(
        Child(from.native_, name).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
        FILE_FLAG_SEQUENTIAL_SCAN | (from.RefusesLinks() ? FILE_FLAG_OPEN_REPARSE_POINT : 0),
        nullptr);
    if (in == INVALID_HANDLE_VALUE) {
        why = SystemError(FileConcern::kSource);
        return std::nullopt;
    }
    struct Closer {
        HANDLE handle;
        ~Closer() { ::CloseHandle(handle); }
    } closeIn{in};
    const auto before = InformationOf(in);
    if (!before) {
        why = SystemError(FileConcern::kSource);
        return std::nullopt;
    }
    if (::GetFileType(in) != FILE_TYPE_DISK ||
        (before->dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) !=
            0) {
        why = {FileRefusal::kNotAFile, 0, FileConcern::kSource};
        return std::nullopt;
    }

    TemporaryCopy copy;
    copy.toName_ = targetPath;
    copy.target_ = targetState;
    copy.size_ = Combined(before->nFileSizeHigh, before->nFileSizeLow);
    FormatTemporaryName(copy.temporary_);
    CopyStepReached(CopyStep::kOpened, toName);
    const HANDLE out =
        ::CreateFileA(Child(to.native_, copy.temporary_).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                      nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (out == INVALID_HANDLE_VALUE) {
        why = SystemError(FileConcern::kTarget);
        copy.temporary_[0] = '\0';
        return std::nullopt;
    }
    copy.out_ = reinterpret_cast<std::intptr_t>(out);
    if ((why = CopyContents(in, out))) {
        return std::nullopt;
    }
    CopyStepReached(CopyStep::kWritten, toName);
    // A source written to while it was read is no state the file ever had: the next run copies
    // it.
    const auto after = InformationOf(in);
    if (!after || FromFiletime(after->ftLastWriteTime) != FromFiletime(before->ftLastWriteTime) ||
        Combined(after->nFileSizeHigh, after->nFileSizeLow) != copy.size_) {
        why = {FileRefusal::kSourceChanged, 0, FileConcern::kSource};
        return std::nullopt;
    }
    // The time the destination can keep: a copy whose time its volume cannot hold would look
    // changed on every run. The system converts it to FAT's local time itself.
    const FileTime original = lastWrite ? *lastWrite : FromFiletime(before->ftLastWriteTime);
    copy.written_ = to.HeldTime(original);
    copy.accessed_ = copy.written_;
    const FILETIME written = ToFiletime(copy.written_);
    // The hidden attribute was the temporary name's; the copy keeps the source's others.
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = before->dwFileAttributes &
                           (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_SYSTEM);
    if (basic.FileAttributes == 0) {
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    }
    // Volumes that keep no attributes (a FAT stick through FUSE) refuse them; such a copy was
    // never hidden either.
    ::SetFileInformationByHandle(out, FileBasicInfo, &basic, sizeof basic);
    if (!::SetFileTime(out, nullptr, nullptr, &written)) {
        why = SystemError(FileConcern::kTarget);
        return std::nullopt;
    }
    copy.folder_ = static_cast<std::intptr_t>(to.NativeHandle());
    return copy;
}

FileError TemporaryCopy::NameNow(const Directory& to) {
    const std::string name = toName_.substr(toName_.find_last_of('\\') + 1);
    CopyStepReached(CopyStep::kFlushed, name);
    if (to.CopyDurability() != Directory::Durability::kNone &&
        !::FlushFileBuffers(reinterpret_cast<HANDLE>(out_))) {
        const FileError failed{FileRefusal::kNotDurable, static_cast<int>(::GetLastError()),
                               FileConcern::kTarget};
        Discard();
        return failed;
    }
    CloseOut(out_);
    const std::string temporaryPath = Child(FolderOf(toName_), temporary_);
    temporary_[0] = '\0';  // named, or removed by GiveName
    return GiveName(temporaryPath, toName_, target_);
}

void TemporaryCopy::HandOver(WaitingCopy& waiting) {
    waiting.toName = toName_.substr(toName_.find_last_of('\\') + 1);
    waiting.target = target_;
    std::copy(std::begin(temporary_), std::end(temporary_), waiting.temporary);
    temporary_[0] = '\0';
    CloseOut(out_);
}

namespace {

// The folder and the name of a file's drive path.
struct OpenedFolder {
    std::optional<Directory> folder;
    std::string name;
};

OpenedFolder OpenFolderOf(std::string_view drivePath) {
    const std::size_t last = drivePath.find_last_of("\\/");
    if (last == std::string_view::npos || last + 1 >= drivePath.size()) {
        return {};
    }
    return {Directory::Open(drivePath.substr(0, last + 1)),
            std::string(drivePath.substr(last + 1))};
}

}  // namespace

bool CopyFileByPath(std::string_view from, std::string_view to, bool failIfExists,
                    FileTime lastWrite) {
    OpenedFolder source = OpenFolderOf(from);
    OpenedFolder target = OpenFolderOf(to);
    return source.folder && target.folder &&
           CopyFileAt(*source.folder, source.name, *target.folder, target.name, failIfExists,
                      lastWrite);
}

bool CopyFileKeepingAttributes(std::string_view from, std::string_view to, bool failIfExists) {
    const auto source = ToNativePath(from);
    const auto target = ToNativePath(to);
    return source && target &&
           ::CopyFileA(source->c_str(), target->c_str(), failIfExists ? TRUE : FALSE) != FALSE;
}

bool CreateDirectory(std::string_view drivePath) {
    const auto native = ToNativePath(drivePath);
    return native && ::CreateDirectoryA(native->c_str(), nullptr) != FALSE;
}

bool MoveFile(std::string_view fromDrivePath, std::string_view toDrivePath) {
    const auto from = ToNativePath(fromDrivePath);
    const auto to = ToNativePath(toDrivePath);
    // MoveFileA never replaces an existing entry; a name that differs only in case is the entry
    // itself and is taken.
    return from && to && ::MoveFileA(from->c_str(), to->c_str()) != FALSE;
}

}  // namespace tarnwick::platform
