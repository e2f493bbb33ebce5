#include "transfer/TransferFiles.h"

#include "transfer/XmodemBlock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrune {

namespace {

std::string SystemError(const std::string &what, const std::string &path)
{
    return what + " \"" + path + "\": " + std::strerror(errno);
}

// Closes the descriptor when the last copy of the reader goes.
struct TFd
{
    explicit TFd(int fd) : Fd(fd) {}
    TFd(const TFd &) = delete;
    TFd &operator=(const TFd &) = delete;
    ~TFd()
    {
        if (Fd >= 0)
            ::close(Fd);
    }
    int Fd;
};

class TFileTarget final : public TReceiveTarget
{
public:
    TFileTarget(std::string path, bool folder) : FPath(std::move(path)), FFolder(folder) {}
    ~TFileTarget() override { Abandon(); }
    TFileTarget(const TFileTarget &) = delete;
    TFileTarget &operator=(const TFileTarget &) = delete;

    std::optional<std::string> Begin(const std::string &name) override
    {
        Abandon();
        FFinal = FFolder ? FPath + "/" + xmodem::SafeFileName(name) : FPath;
        FPartial = FFinal + ".part";
        FFd = ::open(FPartial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (FFd < 0)
            return SystemError("Cannot create", FPartial);
        return std::nullopt;
    }

    std::optional<std::string> Write(std::string_view data) override
    {
        while (!data.empty()) {
            const ssize_t n = ::write(FFd, data.data(), data.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return SystemError("Cannot write", FPartial);
            data.remove_prefix(static_cast<std::size_t>(n));
        }
        return std::nullopt;
    }

    std::optional<std::string> End(std::int64_t modTime) override
    {
        if (modTime > 0) {
            const timespec times[2] = {{0, UTIME_OMIT}, {modTime, 0}};
            ::futimens(FFd, times);
        }
        const int fd = FFd;
        FFd = -1;
        if (::close(fd) != 0) {
            ::unlink(FPartial.c_str());
            return SystemError("Cannot write", FPartial);
        }
        if (::rename(FPartial.c_str(), FFinal.c_str()) != 0) {
            const std::string error = SystemError("Cannot create", FFinal);
            ::unlink(FPartial.c_str());
            return error;
        }
        return std::nullopt;
    }

    void Abandon() override
    {
        if (FFd < 0)
            return;
        ::close(FFd);
        FFd = -1;
        ::unlink(FPartial.c_str());
    }

private:
    std::string FPath;
    bool FFolder;
    std::string FFinal;
    std::string FPartial;
    int FFd = -1;
};

} // namespace

std::uint64_t TotalSize(const std::vector<TSendFile> &files)
{
    std::uint64_t total = 0;
    for (const TSendFile &f : files)
        total += f.Size;
    return total;
}

TSendFile OpenSendFile(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw std::runtime_error(SystemError("Cannot open", path));
    auto owner = std::make_shared<TFd>(fd);
    struct stat info
    {
    };
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        throw std::runtime_error("\"" + path + "\" is not a file that can be sent.");
    TSendFile file;
    const std::size_t slash = path.find_last_of('/');
    file.Name = slash == std::string::npos ? path : path.substr(slash + 1);
    file.Size = static_cast<std::uint64_t>(info.st_size);
    file.ModTime = info.st_mtim.tv_sec;
    file.Read = [owner, path](char *into, std::size_t max) -> std::size_t {
        for (;;) {
            const ssize_t n = ::read(owner->Fd, into, max);
            if (n >= 0)
                return static_cast<std::size_t>(n);
            if (errno != EINTR)
                throw std::runtime_error(SystemError("Cannot read", path));
        }
    };
    return file;
}

std::unique_ptr<TReceiveTarget> MakeFileTarget(const std::string &path, bool folder)
{
    return std::make_unique<TFileTarget>(path, folder);
}

} // namespace kestrune
