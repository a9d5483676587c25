// Feeds arbitrary server streams through the RFC 2217 codec, cut where the
// first byte says; the sanitizers catch memory faults, the checks below
// broken invariants.
#include "rfc2217/rfc2217_codec.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t cut = data[0] % size;
    ++data, --size;
    using namespace veltra::rfc2217;
    Codec whole, split;
    whole.start(), split.start();
    Bytes d1, r1, d2, r2;
    std::vector<Answer> a1, a2;
    whole.receive(data, size, d1, r1, a1);
    split.receive(data, cut > size ? size : cut, d2, r2, a2);
    split.receive(data + (cut > size ? size : cut), size - (cut > size ? size : cut), d2, r2, a2);
    // Data never outgrows the stream; every reply is a three-byte command.
    if (d1 != d2 || r1 != r2 || a1 != a2 || d1.size() > size || r1.size() % 3 != 0) std::abort();
    for (const Answer& a : a1)
        if (a.value.size() > 64) std::abort();
    // Escaped data reads back as itself once binary is agreed.
    Codec c;
    c.start();
    const std::uint8_t doBinary[] = {kIac, kDo, kOptBinary, kIac, kWill, kOptBinary};
    Bytes ignored, reply, wire, back;
    std::vector<Answer> none;
    c.receive(doBinary, sizeof doBinary, ignored, reply, none);
    c.encode(data, size, wire);
    c.receive(wire.data(), wire.size(), back, reply, none);
    if (back != Bytes(data, data + size)) std::abort();
    return 0;
}
