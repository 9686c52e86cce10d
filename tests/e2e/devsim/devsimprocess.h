#pragma once

// Runs the simulator binary (TALLOW_DEVSIM) for one test and waits for its "ready" line.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

namespace devsimtest
{

class DevsimProcess
{
public:
    ~DevsimProcess() { stop(); }

    /// Starts devsim with these arguments; false (with the output so far in *log) when it exits
    /// or does not report "ready" within the time.
    bool start(const std::vector<std::string> &args, std::string *log, int timeoutMs = 10000)
    {
        const char *bin = std::getenv("TALLOW_DEVSIM");
        if (!bin)
            return false;
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0)
            return false;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            std::vector<char *> argv{const_cast<char *>(bin)};
            for (const auto &a : args)
                argv.push_back(const_cast<char *>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(bin, argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        fd_ = out[0];
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            if (readSome(100) < 0)
                break;
            if (output_.find("\nready ") != std::string::npos || output_.rfind("ready ", 0) == 0) {
                *log = output_;
                return true;
            }
        }
        *log = output_;
        return false;
    }

    /// Reads what the simulator printed since the last call (or waits up to ms for it).
    const std::string &output(int ms = 0)
    {
        readSome(ms);
        return output_;
    }

    /// Sends the signal and waits; returns the exit status, or -1 if it had to be killed.
    int stop(int sig = SIGTERM)
    {
        if (pid_ <= 0)
            return -1;
        ::kill(pid_, sig);
        int status = 0;
        for (int i = 0; i < 100; ++i) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                ::close(fd_);
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            ::usleep(50000);
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        ::close(fd_);
        return -1;
    }

private:
    int readSome(int ms)
    {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, ms) <= 0)
            return 0;
        char buf[4096];
        const ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n > 0)
            output_.append(buf, size_t(n));
        return n > 0 ? 1 : -1;
    }

    pid_t pid_ = -1;
    int fd_ = -1;
    std::string output_;
};

} // namespace devsimtest
