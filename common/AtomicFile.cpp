#include "common/AtomicFile.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace kestrune {

namespace fs = std::filesystem;

namespace {

// As many links as the kernel follows in one path before it gives up.
constexpr int MaxLinkHops = 40;
constexpr std::size_t UniqueChars = 6; // as mkstemp's "XXXXXX"

std::function<void(TReplaceStep)> &stepHook()
{
    static std::function<void(TReplaceStep)> hook;
    return hook;
}

bool unnamedAllowed = true;

void reached(TReplaceStep step)
{
    if (stepHook())
        stepHook()(step);
}

// The file a path leads to, and what is there now.
struct TTarget
{
    fs::path Path;
    bool Exists = false;
    struct stat Status
    {
    };
};

int resolveTarget(const std::string &path, TTarget &target)
{
    fs::path current = path;
    for (int hop = 0; hop <= MaxLinkHops; ++hop) {
        struct stat status
        {
        };
        if (::lstat(current.c_str(), &status) != 0) {
            if (errno != ENOENT)
                return errno;
            target = {current, false, {}};
            return 0;
        }
        if (!S_ISLNK(status.st_mode)) {
            target = {current, true, status};
            return 0;
        }
        std::error_code error;
        const fs::path next = fs::read_symlink(current, error);
        if (error)
            return error.value();
        // A relative link is read from the folder it lies in.
        current = next.is_absolute() ? next : current.parent_path() / next;
    }
    return ELOOP;
}

fs::path folderOf(const TTarget &target)
{
    return target.Path.has_parent_path() ? target.Path.parent_path() : fs::path(".");
}

// The name a temporary file of `target` begins with; hidden, and unlike any
// name a user gives a file, so leftovers can be told from the user's files.
std::string temporaryMark(const TTarget &target)
{
    return "." + target.Path.filename().string() + ".saving-";
}

std::string temporaryPrefix(const TTarget &target)
{
    return (folderOf(target) / temporaryMark(target)).string();
}

std::string uniqueChars()
{
    static constexpr std::string_view alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static thread_local std::minstd_rand generator(std::random_device{}());
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::string chars(UniqueChars, ' ');
    for (char &c : chars)
        c = alphabet[pick(generator)];
    return chars;
}

// Takes on the mode of the file it replaces, and its owner and group where
// this process may give them away; a new file gets 0666 less the umask.
int adoptAttributes(int fd, const TTarget &target, bool createdWithUmask)
{
    if (!target.Exists) {
        if (createdWithUmask)
            return 0;
        const mode_t mask = ::umask(0);
        ::umask(mask);
        return ::fchmod(fd, 0666 & ~mask) == 0 ? 0 : errno;
    }
    const uid_t anyUser = static_cast<uid_t>(-1);
    static_cast<void>(::fchown(fd, target.Status.st_uid, target.Status.st_gid) == 0 ||
                      ::fchown(fd, anyUser, target.Status.st_gid) == 0);
    // After the owner: a change of owner clears the set-id bits.
    return ::fchmod(fd, target.Status.st_mode & 07777) == 0 ? 0 : errno;
}

// Gives an unnamed file a free name beside its target, through /proc or, where
// that is not mounted, the descriptor itself (which needs a capability).
int giveName(int fd, const TTarget &target, std::string &name)
{
    const std::string byNumber = "/proc/self/fd/" + std::to_string(fd);
    const std::string prefix = temporaryPrefix(target);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = prefix + uniqueChars();
        if (::linkat(AT_FDCWD, byNumber.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) ==
                0 ||
            (errno == ENOENT &&
             ::linkat(fd, "", AT_FDCWD, candidate.c_str(), AT_EMPTY_PATH) == 0)) {
            name = std::move(candidate);
            return 0;
        }
        if (errno != EEXIST)
            return errno;
    }
    return EEXIST;
}

// One replacement through an unnamed or a named temporary file. `unsupported`
// says that an unnamed one cannot be made or named here: nothing was changed.
int replaceThrough(const TTarget &target, std::string_view content, bool unnamed, bool &unsupported)
{
    unsupported = false;
    TFileDescriptor file;
    std::string name; // once the temporary file has one
    if (unnamed) {
        TOpenedFile opened = OpenFile(folderOf(target).string(), O_TMPFILE | O_WRONLY, 0666);
        if (opened.Error != 0) {
            unsupported = true;
            return opened.Error;
        }
        file = std::move(opened.Fd);
    } else {
        std::string pattern = temporaryPrefix(target) + std::string(UniqueChars, 'X');
        const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
        if (fd < 0)
            return errno;
        file = TFileDescriptor(fd);
        name = std::move(pattern);
    }

    int error = WriteAll(file.Get(), content);
    if (error == 0)
        error = adoptAttributes(file.Get(), target, unnamed);
    if (error == 0 && ::fsync(file.Get()) != 0)
        error = errno;
    if (error == 0)
        reached(TReplaceStep::Written);
    if (error == 0 && unnamed) {
        error = giveName(file.Get(), target, name);
        unsupported = error != 0;
        if (error == 0)
            reached(TReplaceStep::Named);
    }
    if (const int closed = file.Close(); error == 0)
        error = closed;
    if (error == 0 && ::rename(name.c_str(), target.Path.c_str()) != 0)
        error = errno;
    if (error != 0 && !name.empty())
        ::unlink(name.c_str());
    return error;
}

} // namespace

int TFileLock::Acquire(const std::string &lockPath, std::chrono::milliseconds patience)
{
    TOpenedFile file = OpenFile(lockPath, O_RDWR | O_CREAT);
    if (file.Error != 0)
        return file.Error;
    // A holder keeps the lock only while it writes; one that was stopped must
    // not keep this copy from ever ending, so the wait is bounded.
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (::flock(file.Fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR)
            return errno;
        if (std::chrono::steady_clock::now() >= deadline)
            return EWOULDBLOCK;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    FFd = std::move(file.Fd);
    return 0;
}

int ReplaceFileAtomically(const std::string &path, std::string_view content)
{
    TTarget target;
    if (const int error = resolveTarget(path, target); error != 0)
        return error;
    if (target.Exists && !S_ISREG(target.Status.st_mode))
        return S_ISDIR(target.Status.st_mode) ? EISDIR : EINVAL;
    bool unsupported = false;
    if (unnamedAllowed) {
        const int error = replaceThrough(target, content, true, unsupported);
        if (!unsupported)
            return error;
    }
    return replaceThrough(target, content, false, unsupported);
}

void RemoveLeftoverTemporaries(const std::string &path)
{
    TTarget target;
    if (resolveTarget(path, target) != 0)
        return;
    const std::string mark = temporaryMark(target);
    DIR *folder = ::opendir(folderOf(target).c_str());
    if (!folder)
        return;
    while (const dirent *entry = ::readdir(folder)) {
        const std::string_view name = entry->d_name;
        struct stat status
        {
        };
        if (name.size() == mark.size() + UniqueChars && name.starts_with(mark) &&
            ::fstatat(::dirfd(folder), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(status.st_mode))
            ::unlinkat(::dirfd(folder), entry->d_name, 0);
    }
    ::closedir(folder);
}

void SetReplaceStepHook(std::function<void(TReplaceStep)> hook)
{
    stepHook() = std::move(hook);
}

void SetUnnamedTemporariesAllowed(bool allowed)
{
    unnamedAllowed = allowed;
}

} // namespace kestrune
