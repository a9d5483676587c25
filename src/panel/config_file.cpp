#include "panel/config_file.h"

#include "panel/file_replace.h"
#include "model/cp1252.h"
#include "model/leading_int.h"
#include "panel/panel_render.h"

#include <cstdint>
#include <stdexcept>

namespace veltra {

// ---- records ----------------------------------------------------------------

ConfigRecords configRecords(const PanelState& s) {
    ConfigRecords r;
    r[kRecShutterPosition] = std::to_string(s.shutterPosition);
    r[kRecShutterMode] = std::to_string(s.shutterMode);
    r[kRecNdSteps] = std::to_string(s.ndSteps);
    r[kRecTriggerMode] = std::to_string(s.triggerMode);
    r[kRecSyncMode] = std::to_string(s.syncMode);
    r[kRecTimerSelect] = std::to_string(s.timerSelectIndex);
    for (int f = 0; f < kTimerFieldCount; ++f) {
        const auto i = static_cast<std::size_t>(f);
        r[kRecDelayFirst + i] = s.delayTime.field(f);
        r[kRecExposureFirst + i] = s.exposureTime.field(f);
    }
    r[kRecRunningOption] = std::to_string(s.runningOption);
    r[kRecRepeat] = s.repeatText;
    return r;
}

// ---- encoding ---------------------------------------------------------------

namespace {

void putLe(std::string& out, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFFu));
}

// The archive's string prefix, shortest form first. 0xFFFE and 0xFFFF are
// taken as markers in the 16-bit slot, so 16-bit lengths end at 0xFFFD.
void putLength(std::string& out, std::size_t n) {
    if (n < 0xFF) {
        out.push_back(static_cast<char>(n));
    } else if (n < 0xFFFE) {
        out.push_back('\xFF');
        putLe(out, static_cast<std::uint32_t>(n), 2);
    } else {
        if (n > 0xFFFFFFFFu) throw std::length_error("configuration record longer than 4 GiB");
        out.append("\xFF\xFF\xFF", 3);
        putLe(out, static_cast<std::uint32_t>(n), 4);
    }
}

}  // namespace

std::string encodeRecords(const ConfigRecords& records) {
    std::string out;
    for (const std::string& text : records) {
        const std::string bytes = utf8ToCp1252(text);
        putLength(out, bytes.size());
        out += bytes;
    }
    return out;
}

std::string encodeConfig(const PanelState& s) { return encodeRecords(configRecords(s)); }

// ---- decoding ---------------------------------------------------------------

namespace {

class Reader {
public:
    explicit Reader(std::string_view in) : m_in(in) {}

    std::size_t left() const { return m_in.size() - m_pos; }

    bool le(std::uint32_t& v, int bytes) {
        if (left() < static_cast<std::size_t>(bytes)) return false;
        v = 0;
        for (int i = 0; i < bytes; ++i)
            v |= std::uint32_t{static_cast<unsigned char>(m_in[m_pos++])} << (8 * i);
        return true;
    }

    std::string_view take(std::size_t n) {
        const std::string_view out = m_in.substr(m_pos, n);
        m_pos += n;
        return out;
    }

private:
    std::string_view m_in;
    std::size_t m_pos = 0;
};

struct Prefix {
    std::uint32_t length = 0;
    bool wide = false;  // length counts UTF-16 code units
};

// One of the three plain forms, after its first byte has been read. A 16-bit
// length below 0xFF is not what a writer produces, but the archive reads it.
bool readLengthTail(Reader& in, std::uint32_t first, std::uint32_t& length, bool& wideMarker) {
    wideMarker = false;
    if (first < 0xFF) {
        length = first;
        return true;
    }
    std::uint32_t w = 0;
    if (!in.le(w, 2)) return false;
    if (w == 0xFFFE) {
        wideMarker = true;
        return true;
    }
    if (w < 0xFFFF) {
        length = w;
        return true;
    }
    return in.le(length, 4);
}

bool readPrefix(Reader& in, Prefix& p) {
    std::uint32_t first = 0;
    bool marker = false;
    if (!in.le(first, 1) || !readLengthTail(in, first, p.length, marker)) return false;
    if (!marker) return true;
    // Wide-character text: a fresh length in one of the plain forms follows.
    // A second marker is no length at all.
    p.wide = true;
    return in.le(first, 1) && readLengthTail(in, first, p.length, marker) && !marker;
}

// UTF-16LE narrowed to Windows-1252 the way the platform's conversion of a C
// string does: it stops at the first NUL, and whatever the code page lacks
// (surrogate pairs, lone surrogates included) becomes one '?'.
std::string narrowUtf16(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() / 2);
    const auto unit = [&](std::size_t i) {
        return static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                     (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    };
    const std::size_t count = bytes.size() / 2;
    for (std::size_t i = 0; i < count; ++i) {
        const char16_t u = unit(i);
        if (u == 0) break;
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < count) {
            const char16_t low = unit(i + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) ++i;  // the pair is one character
        }
        out.push_back(codePointToCp1252(u));  // surrogates are not in the code page
    }
    return out;
}

}  // namespace

std::size_t decodeConfigRecords(std::string_view bytes, ConfigRecords& out) {
    out = ConfigRecords{};
    Reader in(bytes);
    for (std::size_t k = 0; k < kConfigRecordCount; ++k) {
        Prefix p;
        if (!readPrefix(in, p)) return k;
        // 64-bit so a wide 32-bit length cannot wrap; checked before any allocation.
        const std::uint64_t size = std::uint64_t{p.length} * (p.wide ? 2u : 1u);
        if (size > in.left()) return k;
        const std::string_view text = in.take(static_cast<std::size_t>(size));
        out[k] = p.wide ? cp1252ToUtf8(narrowUtf16(text)) : cp1252ToUtf8(text);
    }
    return kConfigRecordCount;
}

std::optional<ConfigRecords> decodeConfig(std::string_view bytes) {
    ConfigRecords r;
    if (decodeConfigRecords(bytes, r) != kConfigRecordCount) return std::nullopt;
    return r;
}

// ---- loading into the panel -------------------------------------------------

namespace {

// "%.2f ms" of ndSteps * 38 / 144, worked out exactly: the value is a multiple
// of 1/72, and halves (n = 9, 27, 45, ... give exact eighths) round away from
// zero as the platform's printf did, not to even as glibc's does.
std::string ndTimeLabel(int ndSteps) {
    const std::int64_t num = 1900LL * ndSteps;  // hundredths * 72
    const std::int64_t mag = num < 0 ? -num : num;
    const std::int64_t hundredths = (2 * mag + 72) / 144;
    std::string frac = std::to_string(hundredths % 100);
    if (frac.size() < 2) frac.insert(0, 1, '0');
    return (num < 0 ? "-" : "") + std::to_string(hundredths / 100) + "." + frac + " ms";
}

}  // namespace

void applyConfig(PanelState& s, const ConfigRecords& r) {
    for (int f = 0; f < kTimerFieldCount; ++f) {
        const auto i = static_cast<std::size_t>(f);
        s.delayTime.field(f) = r[kRecDelayFirst + i];
        s.exposureTime.field(f) = r[kRecExposureFirst + i];
    }
    s.repeatText = r[kRecRepeat];
    s.leftCycleText = s.repeatText;

    s.shutterPosition = leadingInt(r[kRecShutterPosition]);
    s.shutterMode = leadingInt(r[kRecShutterMode]);
    s.ndSteps = leadingInt(r[kRecNdSteps]);
    // With no mode the texts stay as they were.
    if (s.shutterMode != -1) showModeLabels(s, s.shutterMode, s.ndSteps, ndTimeLabel(s.ndSteps));

    s.triggerMode = leadingInt(r[kRecTriggerMode]);
    s.triggerPulseChecked = s.triggerMode != -1;
    s.syncMode = leadingInt(r[kRecSyncMode]);
    s.syncPulseChecked = s.syncMode != -1;

    // Any index is kept; the combo shows no selection for one it lacks, and
    // everything but Exposure shows the delay.
    s.timerSelectIndex = leadingInt(r[kRecTimerSelect]);
    showSelectedTimer(s);
    refreshCycleTime(s);
    refreshTimerLabels(s);

    s.runningOption = leadingInt(r[kRecRunningOption]);
}

// ---- files ------------------------------------------------------------------

namespace {

std::string quoted(const std::string& path) { return "\"" + fileBaseName(path) + "\""; }

ConfigFileData fail(ConfigFileData::Status status, std::string error) {
    ConfigFileData d;
    d.status = status;
    d.error = std::move(error);
    return d;
}

}  // namespace

ConfigFileData readConfigFile(const std::string& path) {
    using Status = ConfigFileData::Status;
    FileRead read = readRegularFile(path, kMaxConfigFileSize);
    switch (read.failure) {
    case FileRead::Failure::None: break;
    case FileRead::Failure::CannotOpen: return fail(Status::kCannotOpen, "Cannot open " + quoted(path) + ": " + read.reason + ".");
    case FileRead::Failure::TooLarge: return fail(Status::kTooLarge, quoted(path) + " is too large for a configuration file.");
    case FileRead::Failure::ReadError: return fail(Status::kReadError, "Cannot read " + quoted(path) + ": " + read.reason + ".");
    }
    ConfigFileData d;
    d.status = Status::kOk;
    d.bytes = std::move(read.bytes);
    return d;
}

bool writeConfigFileAtomically(const std::string& path, std::string_view bytes, std::string& error) {
    const std::string why = replaceFile(path, bytes);
    if (why.empty()) return true;
    error = "Cannot save " + quoted(path) + ": " + why + ".";
    return false;
}

std::string pastEndMessage(const std::string& fileName) {
    const std::string name = fileName.empty() ? std::string("an unnamed file") : fileBaseName(fileName);
    return "An attempt was made to access " + name + " past its end.";
}

}  // namespace veltra
