#include "rfc2217/rfc2217_codec.h"

namespace veltra::rfc2217 {

namespace {

// Longest subnegotiation kept: a COM-PORT answer is a few bytes; what is
// longer is read to its end and dropped, so memory stays bounded.
constexpr std::size_t kMaxSubnegotiation = 64;

bool weOffer(std::uint8_t option) {
    return option == kOptBinary || option == kOptSuppressGoAhead || option == kOptComPort;
}

bool weAccept(std::uint8_t option) {
    // The server may send binary and without go-aheads; its echo we refuse:
    // the controller echoes every command itself.
    return option == kOptBinary || option == kOptSuppressGoAhead;
}

void put(Bytes& out, std::uint8_t verb, std::uint8_t option) {
    out.insert(out.end(), {kIac, verb, option});
}

}  // namespace

Bytes comPortCommand(std::uint8_t command, const Bytes& value) {
    Bytes out{kIac, kSb, kOptComPort, command};
    for (const std::uint8_t b : value) {
        out.push_back(b);
        if (b == kIac) out.push_back(kIac);
    }
    out.insert(out.end(), {kIac, kSe});
    return out;
}

Bytes encodeValue(std::uint8_t command, std::uint32_t value) {
    if (command == kSetBaudRate)
        return {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
                static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
    return {static_cast<std::uint8_t>(value)};
}

std::optional<std::uint32_t> decodeValue(std::uint8_t command, const Bytes& value) {
    if (value.size() != (command == kSetBaudRate ? 4u : 1u)) return std::nullopt;
    std::uint32_t v = 0;
    for (const std::uint8_t b : value) v = (v << 8) | b;
    return v;
}

Bytes setting(std::uint8_t command, std::uint32_t value) {
    return comPortCommand(command, encodeValue(command, value));
}

Bytes Codec::start() {
    Bytes out;
    m_us[kOptComPort] = Side::WantYes;
    put(out, kWill, kOptComPort);
    m_us[kOptBinary] = Side::WantYes;
    put(out, kWill, kOptBinary);
    m_him[kOptBinary] = Side::WantYes;
    put(out, kDo, kOptBinary);
    return out;
}

Codec::Agreement Codec::comPort() const {
    if (m_us[kOptComPort] == Side::Yes) return Agreement::Agreed;
    return m_comPortRefused ? Agreement::Refused : Agreement::Pending;
}

void Codec::receive(const std::uint8_t* bytes, std::size_t size, Bytes& data, Bytes& reply,
                    std::vector<Answer>& answers) {
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t b = bytes[i];
        switch (m_state) {
        case State::Data:
            if (b == kIac) {
                m_state = State::Iac;
                break;
            }
            if (!(b == 0 && m_afterCr && !binaryFromServer())) data.push_back(b);
            m_afterCr = b == '\r';
            break;
        case State::Iac:
            command(b, data);
            break;
        case State::Verb:
            negotiate(m_verb, b, reply);
            m_state = State::Data;
            break;
        case State::Sb:
            if (b == kIac) {
                m_state = State::SbIac;
            } else if (m_sb.size() < kMaxSubnegotiation) {
                m_sb.push_back(b);
            } else {
                m_sbOverflow = true;
            }
            break;
        case State::SbIac:
            if (b == kIac) {
                m_state = State::Sb;
                if (m_sb.size() < kMaxSubnegotiation) m_sb.push_back(kIac);
                else m_sbOverflow = true;
            } else {
                // IAC SE ends it. Any other command, which a well-formed
                // stream never puts here, ends it too and is taken as the
                // command it is: its option byte is no data.
                endSubnegotiation(answers);
                m_state = State::Data;
                if (b != kSe) command(b, data);
            }
            break;
        }
    }
}

void Codec::command(std::uint8_t b, Bytes& data) {
    m_state = State::Data;
    if (b == kIac) {  // an escaped data byte
        data.push_back(kIac);
        m_afterCr = false;
    } else if (b >= kWill && b <= kDont) {
        m_verb = b;
        m_state = State::Verb;
    } else if (b == kSb) {
        m_sb.clear();
        m_sbOverflow = false;
        m_state = State::Sb;
    }
    // Any other command (NOP, data mark, go-ahead, ...) carries nothing for us.
}

void Codec::endSubnegotiation(std::vector<Answer>& answers) {
    if (m_sbOverflow || m_sb.size() < 2 || m_sb[0] != kOptComPort || m_sb[1] < kServerOffset) return;
    answers.push_back(Answer{static_cast<std::uint8_t>(m_sb[1] - kServerOffset), Bytes(m_sb.begin() + 2, m_sb.end())});
}

// Each side of an option changes state only on a real change, and only a
// change is answered, so two peers never loop (the "Q method" without queues).
void Codec::negotiate(std::uint8_t verb, std::uint8_t option, Bytes& reply) {
    switch (verb) {
    case kDo: {
        Side& s = m_us[option];
        if (!weOffer(option)) {
            // Refused once: a server asking again and again gets no
            // answer each time, so what we send stays bounded.
            if (!m_refusedUs[option]) put(reply, kWont, option);
            m_refusedUs[option] = true;
            s = Side::No;
        } else if (s == Side::No) {
            s = Side::Yes;
            put(reply, kWill, option);
        } else {
            s = Side::Yes;
        }
        break;
    }
    case kDont: {
        Side& s = m_us[option];
        if (s == Side::Yes) put(reply, kWont, option);
        if (s != Side::No && option == kOptComPort) m_comPortRefused = true;
        s = Side::No;
        break;
    }
    case kWill: {
        Side& s = m_him[option];
        if (!weAccept(option)) {
            if (!m_refusedHim[option]) put(reply, kDont, option);
            m_refusedHim[option] = true;
            s = Side::No;
        } else if (s == Side::No) {
            s = Side::Yes;
            put(reply, kDo, option);
        } else {
            s = Side::Yes;
        }
        break;
    }
    case kWont: {
        Side& s = m_him[option];
        if (s == Side::Yes) put(reply, kDont, option);
        s = Side::No;
        break;
    }
    default:
        break;
    }
}

void Codec::encode(const std::uint8_t* bytes, std::size_t size, Bytes& out) const {
    const bool padCr = !binaryToServer();
    out.reserve(out.size() + size + size / 8);
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t b = bytes[i];
        out.push_back(b);
        if (b == kIac) out.push_back(kIac);
        else if (b == '\r' && padCr) out.push_back(0);
    }
}

}  // namespace veltra::rfc2217
