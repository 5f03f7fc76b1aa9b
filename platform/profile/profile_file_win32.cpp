// The settings file through the system's private-profile services, as the program was made for.
#include <windows.h>

#include <mutex>
#include <string_view>
#include <vector>

#include "platform/profile/profile.h"

namespace tarnwick::platform {

namespace {

// Writes of all threads of the process are taken one at a time, as on Linux, so that a
// read-modify-write of the services never interleaves with another one of this process.
std::mutex gWriteMutex;

// The services take NUL-terminated texts.
std::string Text(std::string_view text) {
    return std::string(text);
}

// The section names of a file, which the services give as NUL-separated names ending in two
// NULs, read with a buffer grown until the list fits.
std::vector<std::string> SectionNames(const std::string& path) {
    std::vector<char> buffer(4096);
    for (;;) {
        const DWORD got = ::GetPrivateProfileSectionNamesA(
            buffer.data(), static_cast<DWORD>(buffer.size()), path.c_str());
        // A list that did not fit is reported as the buffer's size less two.
        if (got + 2 < buffer.size() || buffer.size() >= kMaxProfileFileSize) {
            std::vector<std::string> names;
            for (std::size_t at = 0; at < got && buffer[at] != '\0';) {
                const std::string name(buffer.data() + at);
                at += name.size() + 1;
                names.push_back(name);
            }
            return names;
        }
        buffer.resize(buffer.size() * 4);
    }
}

bool SameName(std::string_view a, std::string_view b) {
    return ::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()),
                            b.data(), static_cast<int>(b.size())) == CSTR_EQUAL;
}

bool Contains(const std::vector<std::string>& names, std::string_view name) {
    for (const std::string& each : names) {
        if (SameName(each, name)) {
            return true;
        }
    }
    return false;
}

// Reads as missing (state kMissing), unusable or loaded, without ever blocking on a device.
ProfileFileText ReadText(const std::string& path) {
    const HANDLE file =
        ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        return {error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                    ? ProfileFileState::kMissing
                    : ProfileFileState::kUnusable,
                {}};
    }
    ProfileFileText result{ProfileFileState::kUnusable, {}};
    LARGE_INTEGER size{};
    if (::GetFileType(file) == FILE_TYPE_DISK && ::GetFileSizeEx(file, &size) &&
        static_cast<std::uint64_t>(size.QuadPart) <= kMaxProfileFileSize) {
        std::string text(static_cast<std::size_t>(size.QuadPart), '\0');
        DWORD got = 0;
        if (text.empty() ||
            (::ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &got, nullptr) &&
             got == text.size())) {
            result = {ProfileFileState::kLoaded, std::move(text)};
        }
    }
    ::CloseHandle(file);
    return result;
}

// How the file is, told by its attributes alone (the services parse the file themselves, and
// keep what they parsed while it is unchanged).
ProfileFileState StateOf(const std::string& path, DWORD* attributes = nullptr) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? ProfileFileState::kMissing
                   : ProfileFileState::kUnusable;
    }
    if (attributes != nullptr) {
        *attributes = data.dwFileAttributes;
    }
    const std::uint64_t size = (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    if ((data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0 ||
        size > kMaxProfileFileSize) {
        return ProfileFileState::kUnusable;
    }
    return ProfileFileState::kLoaded;
}

// Whether the services may write the file: a missing file may be made, an existing one must be a
// file of at most kMaxProfileFileSize bytes without the read-only attribute.
bool Writable(const std::string& path) {
    DWORD attributes = 0;
    const ProfileFileState state = StateOf(path, &attributes);
    return state == ProfileFileState::kMissing ||
           (state == ProfileFileState::kLoaded &&
            (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0);
}

}  // namespace

ProfileFileText LoadProfileFile(const std::string& nativePath) {
    return ReadText(nativePath);
}

// The system itself redirects writes of programs in protected folders to the user's virtual
// store, so the file beside the program is the one to name.
ProfileStore ProfileStoreFor(const std::string& nativePath) {
    return ProfileStore{nativePath, {}, {}};
}

// Where the system keeps that copy: <local application data>\VirtualStore\<path without drive>.
std::string PerUserProfilePath(const std::string& home, const std::string& nativePath) {
    const std::size_t rest = nativePath.size() >= 2 && nativePath[1] == ':' ? 2 : 0;
    std::string path = home + "\\AppData\\Local\\VirtualStore";
    if (rest < nativePath.size() && nativePath[rest] != '\\') {
        path.push_back('\\');
    }
    return path + nativePath.substr(rest);
}

ProfileFile::ProfileFile(std::string nativePath) : path_(std::move(nativePath)) {}

ProfileFile::ProfileFile(ProfileStore store)
    : path_(std::move(store.path)),
      original_(std::move(store.original)),
      home_(std::move(store.home)) {}

ProfileFile::~ProfileFile() = default;

std::optional<std::string> ProfileFile::Read(std::string_view section, std::string_view key) {
    if (path_.empty() || StateOf(path_) != ProfileFileState::kLoaded) {
        return std::nullopt;
    }
    // The services answer a missing key with the default: a line break, which no value read
    // from a line can hold.
    std::vector<char> value(kMaxProfileValueLength + 1);
    const DWORD got =
        ::GetPrivateProfileStringA(Text(section).c_str(), Text(key).c_str(), "\n", value.data(),
                                   static_cast<DWORD>(value.size()), path_.c_str());
    const std::string read(value.data(), got);
    if (read == "\n") {
        return std::nullopt;
    }
    return read;
}

bool ProfileFile::Write(std::string_view section, std::string_view key, std::string_view value) {
    if (path_.empty() || !IsStorableProfileSection(section) || !IsStorableProfileKey(key) ||
        !IsStorableProfileValue(value)) {
        return false;
    }
    std::lock_guard lock(gWriteMutex);
    if (!Writable(path_)) {
        return false;
    }
    const std::string stored = EncodedProfileValue(value);
    return ::WritePrivateProfileStringA(Text(section).c_str(), Text(key).c_str(), stored.c_str(),
                                        path_.c_str()) != FALSE;
}

bool ProfileFile::EraseSection(std::string_view section) {
    if (path_.empty()) {
        return false;
    }
    std::lock_guard lock(gWriteMutex);
    if (StateOf(path_) == ProfileFileState::kMissing) {
        return true;
    }
    if (!Writable(path_)) {
        return false;
    }
    const std::string sectionText = Text(section);
    // The services erase one section of a name at a time; every one goes, so that no older
    // duplicate comes to light.
    for (int round = 0; round < 1024 && Contains(SectionNames(path_), section); ++round) {
        if (!::WritePrivateProfileStringA(sectionText.c_str(), nullptr, nullptr, path_.c_str())) {
            return false;
        }
    }
    return true;
}

}  // namespace tarnwick::platform
