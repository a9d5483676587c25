#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// The client's side of Telnet with the COM-PORT-OPTION (RFC 2217): data bytes
// escaped and unescaped, the server's negotiation answered, its answers to
// line settings handed back. Bytes in, bytes out; the caller does the I/O.
namespace veltra::rfc2217 {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint8_t kIac = 255;
inline constexpr std::uint8_t kDont = 254;
inline constexpr std::uint8_t kDo = 253;
inline constexpr std::uint8_t kWont = 252;
inline constexpr std::uint8_t kWill = 251;
inline constexpr std::uint8_t kSb = 250;
inline constexpr std::uint8_t kSe = 240;

inline constexpr std::uint8_t kOptBinary = 0;
inline constexpr std::uint8_t kOptSuppressGoAhead = 3;
inline constexpr std::uint8_t kOptComPort = 44;

// COM-PORT-OPTION commands as the client sends them; the server answers each
// with the same code plus kServerOffset and the value it has put in place.
enum ComPortCommand : std::uint8_t {
    kSetBaudRate = 1,
    kSetDataSize = 2,
    kSetParity = 3,
    kSetStopSize = 4,
    kSetControl = 5,
    kPurgeData = 12,
};
inline constexpr std::uint8_t kServerOffset = 100;

// Values of SET-PARITY (1 none, 2 odd, 3 even, 4 mark, 5 space), SET-STOPSIZE
// (1 one, 2 two, 3 one and a half), SET-CONTROL and PURGE-DATA used here.
inline constexpr std::uint8_t kControlNoFlowControl = 1;
inline constexpr std::uint8_t kControlRtsOn = 11;
inline constexpr std::uint8_t kPurgeReceive = 1;
inline constexpr std::uint8_t kPurgeTransmit = 2;
inline constexpr std::uint8_t kPurgeBoth = 3;

// A server's answer to one COM-PORT-OPTION command: `command` is the client's
// code (the server's minus 100), `value` the value bytes, unescaped.
struct Answer {
    std::uint8_t command = 0;
    Bytes value;
    bool operator==(const Answer&) const = default;
};

// IAC SB COM-PORT-OPTION <command> <value, 0xFF doubled> IAC SE: the one
// place a command is framed and escaped.
Bytes comPortCommand(std::uint8_t command, const Bytes& value);
// A command's value as its bytes, unescaped: SET-BAUDRATE four bytes, most
// significant first; every other command one byte (the low one of `value`).
Bytes encodeValue(std::uint8_t command, std::uint32_t value);
// The value an answer carries (unescaped bytes, as Answer holds them);
// nothing when its size is not the command's.
std::optional<std::uint32_t> decodeValue(std::uint8_t command, const Bytes& value);
// comPortCommand(command, encodeValue(command, value)).
Bytes setting(std::uint8_t command, std::uint32_t value);

class Codec {
public:
    enum class Agreement { Pending, Agreed, Refused };

    // What the client says first: it will speak COM-PORT-OPTION, and binary
    // in both directions (a byte is a byte, carriage returns included).
    Bytes start();

    // Feeds bytes from the server. Data bytes are appended to `data`, what
    // the negotiation asks us to say to `reply`, COM-PORT answers to
    // `answers`. Any split of the stream gives the same result.
    void receive(const std::uint8_t* bytes, std::size_t size, Bytes& data, Bytes& reply,
                 std::vector<Answer>& answers);

    // Data bytes for the wire: 0xFF doubled; a carriage return is followed by
    // NUL while the server has not agreed to binary input.
    void encode(const std::uint8_t* bytes, std::size_t size, Bytes& out) const;

    // Whether the server takes COM-PORT-OPTION commands (it said DO).
    Agreement comPort() const;
    bool binaryToServer() const { return m_us[kOptBinary] == Side::Yes; }
    bool binaryFromServer() const { return m_him[kOptBinary] == Side::Yes; }

private:
    enum class Side : std::uint8_t { No, WantYes, Yes };
    enum class State : std::uint8_t { Data, Iac, Verb, Sb, SbIac };

    // The byte after an IAC, in data or inside a subnegotiation.
    void command(std::uint8_t b, Bytes& data);
    void negotiate(std::uint8_t verb, std::uint8_t option, Bytes& reply);
    void endSubnegotiation(std::vector<Answer>& answers);

    State m_state = State::Data;
    std::uint8_t m_verb = 0;
    bool m_afterCr = false;       // a NUL after CR is padding while not binary
    bool m_sbOverflow = false;    // a subnegotiation longer than any answer
    bool m_comPortRefused = false;
    Bytes m_sb;
    Side m_us[256] = {};   // options we perform (WILL/WONT)
    Side m_him[256] = {};  // options the server performs (DO/DONT)
    bool m_refusedUs[256] = {};   // options we have said WONT to
    bool m_refusedHim[256] = {};  // options we have said DONT to
};

}  // namespace veltra::rfc2217
