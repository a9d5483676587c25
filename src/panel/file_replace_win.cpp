// File replacement on Windows: write beside the file, then ReplaceFileW,
// which keeps the old file's security descriptor and owner; its attributes
// (hidden, system, not indexed) are set again afterwards, as not every
// implementation of ReplaceFileW keeps them (Wine's does not). The archive
// attribute is the system's: it marks the file as changed.
#include "panel/file_replace.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <system_error>

namespace veltra {

namespace {

std::string sysText(DWORD err) { return std::system_category().message(static_cast<int>(err)); }

// Paths reach the core as UTF-8.
std::wstring widen(const std::string& s) {
    if (s.empty()) return {};
    const int size = static_cast<int>(s.size());
    const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), size, nullptr, 0);
    if (n <= 0) return {};
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), size, w.data(), n);
    return w;
}

class Handle {
public:
    explicit Handle(HANDLE h) : m_h(h) {}
    ~Handle() {
        if (valid()) ::CloseHandle(m_h);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return m_h; }
    bool valid() const { return m_h != INVALID_HANDLE_VALUE; }
    // Closes now and reports the result.
    bool close() {
        const bool ok = ::CloseHandle(m_h) != 0;
        m_h = INVALID_HANDLE_VALUE;
        return ok;
    }

private:
    HANDLE m_h;
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The attributes a replaced file keeps.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Looks at an existing target through any links. Sets `target` to the file
// the links lead to and `targetAttrs` to its attributes. Returns why it may
// not be replaced, empty when it may.
std::string inspect(const std::wstring& path, DWORD attrs, std::wstring& target, DWORD& targetAttrs) {
    const bool link = (attrs & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    Handle h(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!h.valid()) {
        const DWORD err = ::GetLastError();
        if (link && (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND))
            return "it is a link to a file that does not exist";
        if (link && err == ERROR_CANT_RESOLVE_FILENAME) return "its links go round in a loop";
        return "cannot look at it: " + sysText(err);
    }
    const char* lead = link ? "it links to " : "it is ";
    if (::GetFileType(h.get()) != FILE_TYPE_DISK) return std::string(lead) + "a device, not a regular file";
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(h.get(), &info)) return "cannot look at it: " + sysText(::GetLastError());
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return std::string(lead) + "a folder, not a regular file";
    if (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) return "it is read-only";
    targetAttrs = info.dwFileAttributes;
    target = path;
    if (link) {
        const DWORD n = ::GetFinalPathNameByHandleW(h.get(), nullptr, 0, FILE_NAME_NORMALIZED);
        std::wstring real(n, L'\0');
        const DWORD got = n ? ::GetFinalPathNameByHandleW(h.get(), real.data(), n, FILE_NAME_NORMALIZED) : 0;
        if (got == 0 || got >= n) return "cannot follow its link: " + sysText(::GetLastError());
        real.resize(got);
        target = real;
    }
    // The file's access rights, without changing it.
    Handle w(::CreateFileW(target.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr));
    if (!w.valid()) {
        const DWORD err = ::GetLastError();
        if (err == ERROR_ACCESS_DENIED) return "you have no permission to write to it";
        return "cannot write to it: " + sysText(err);
    }
    return {};
}

}  // namespace

std::string replaceFile(const std::string& path, std::string_view bytes) {
    const std::wstring wide = widen(path);
    if (wide.empty()) return "no usable file name was given";
    const std::size_t cut = wide.find_last_of(L"\\/");
    if (cut == wide.size() - 1) return "no file name was given";

    std::wstring target = wide;
    bool exists = false;
    DWORD targetAttrs = 0;
    const DWORD attrs = ::GetFileAttributesW(wide.c_str());
    if (attrs != INVALID_FILE_ATTRIBUTES) {
        if (std::string why = inspect(wide, attrs, target, targetAttrs); !why.empty()) return why;
        exists = true;
    } else if (const DWORD err = ::GetLastError(); err != ERROR_FILE_NOT_FOUND && err != ERROR_PATH_NOT_FOUND) {
        // A missing folder is told when the new file cannot be made in it.
        return "cannot look at it: " + sysText(err);
    }

    const std::size_t slash = target.find_last_of(L"\\/");
    const std::wstring folder = slash == std::wstring::npos ? std::wstring() : target.substr(0, slash + 1);
    const std::wstring name = slash == std::wstring::npos ? target : target.substr(slash + 1);
    static std::atomic<unsigned> counter{0};
    std::wstring temp;
    HANDLE raw = INVALID_HANDLE_VALUE;
    DWORD openErr = 0;
    for (int attempt = 0; attempt < 100 && raw == INVALID_HANDLE_VALUE; ++attempt) {
        temp = folder + name + L".tmp-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
               std::to_wstring(counter++) + L"-" + std::to_wstring(::GetTickCount64() % 1000000);
        raw = ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        openErr = ::GetLastError();
        if (raw == INVALID_HANDLE_VALUE && openErr != ERROR_FILE_EXISTS && openErr != ERROR_ALREADY_EXISTS) break;
    }
    Handle out(raw);
    if (!out.valid()) return "cannot create a file in its folder: " + sysText(openErr);
    const auto abandon = [&](const std::string& what) {
        if (out.valid()) out.close();
        ::DeleteFileW(temp.c_str());
        return what;
    };

    std::size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(out.get(), bytes.data() + done, chunk, &written, nullptr))
            return abandon("writing failed: " + sysText(::GetLastError()));
        done += written;
    }
    if (!::FlushFileBuffers(out.get())) return abandon("flushing to disk failed: " + sysText(::GetLastError()));
    if (!out.close()) return abandon("closing failed: " + sysText(::GetLastError()));

    const BOOL replaced =
        exists ? ::ReplaceFileW(target.c_str(), temp.c_str(), nullptr,
                                REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS, nullptr, nullptr)
               : ::MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH);
    if (!replaced) return abandon("cannot replace it: " + sysText(::GetLastError()));
    if (exists) {
        // The bytes are saved; attributes that cannot be set again are no reason to say otherwise.
        const DWORD now = ::GetFileAttributesW(target.c_str());
        const DWORD wanted = (now & ~kKeptAttributes) | (targetAttrs & kKeptAttributes);
        if (now != INVALID_FILE_ATTRIBUTES && now != wanted)
            ::SetFileAttributesW(target.c_str(), wanted == 0 ? FILE_ATTRIBUTE_NORMAL : wanted);
    }
    return {};
}

FileRead readRegularFile(const std::string& path, std::uint64_t limit) {
    FileRead r;
    const std::wstring wide = widen(path);
    HANDLE h = ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        r.failure = FileRead::Failure::CannotOpen;
        r.reason = sysText(::GetLastError());
        return r;
    }
    if (::GetFileType(h) != FILE_TYPE_DISK) {
        ::CloseHandle(h);
        r.failure = FileRead::Failure::CannotOpen;
        r.reason = "not a regular file";
        return r;
    }
    char buf[4096];
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(h, buf, sizeof buf, &n, nullptr)) {
            r.failure = FileRead::Failure::ReadError;
            r.reason = sysText(::GetLastError());
            break;
        }
        if (n == 0) break;
        r.bytes.append(buf, n);
        if (r.bytes.size() > limit) {
            r.failure = FileRead::Failure::TooLarge;
            break;
        }
    }
    ::CloseHandle(h);
    if (r.failure != FileRead::Failure::None) r.bytes.clear();
    return r;
}

std::string fileBaseName(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace veltra
