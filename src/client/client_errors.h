#pragma once

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

// What a client call can fail with.
namespace veltra {

// Every failure of a client call. `what()` is one line that says what to do.
class ClientError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A value the panel's own checks refuse; nothing was sent.
class RefusedError : public ClientError {
public:
    using ClientError::ClientError;
};

// The device cannot be opened, or went away.
class PortError : public ClientError {
public:
    enum class Reason { Missing, Permission, Busy, Closed, Other };
    PortError(Reason reason, const std::string& text) : ClientError(text), m_reason(reason) {}
    Reason reason() const { return m_reason; }
    // "missing", "permission", "in use", "closed", "other"
    const char* reasonName() const;

private:
    Reason m_reason;
};

// No answer within the timeout; `step` names what was waited for.
class TimeoutError : public ClientError {
public:
    TimeoutError(std::string step, const std::string& text) : ClientError(text), m_step(std::move(step)) {}
    const std::string& step() const { return m_step; }

private:
    std::string m_step;
};

// One setting as wanted and as the controller reported it.
struct Difference {
    std::string field;
    std::string wanted;
    std::string read;
    bool operator==(const Difference&) const = default;
};

// --verify read the status back and found it different.
class VerifyError : public ClientError {
public:
    explicit VerifyError(std::vector<Difference> differences);
    const std::vector<Difference>& differences() const { return m_differences; }

private:
    std::vector<Difference> m_differences;
};

// A .cfg file that cannot be read or written.
class ConfigFileError : public ClientError {
public:
    using ClientError::ClientError;
};

// The caller's interrupt check said stop (Ctrl+C). The flow the call had
// under way ended as a closing port ends it; the port stays open.
class InterruptedError : public ClientError {
public:
    InterruptedError() : ClientError("interrupted") {}
};

// A reply with a field outside what the controller can hold.
class ReplyError : public ClientError {
public:
    using ClientError::ClientError;
};

}  // namespace veltra
