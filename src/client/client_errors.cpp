#include "client/client_errors.h"

namespace veltra {

const char* PortError::reasonName() const {
    switch (m_reason) {
    case Reason::Missing: return "missing";
    case Reason::Permission: return "permission";
    case Reason::Busy: return "in use";
    case Reason::Closed: return "closed";
    case Reason::Other: return "other";
    }
    return "other";
}

namespace {
std::string differencesText(const std::vector<Difference>& d) {
    std::string out = "the controller reads back different settings:";
    for (const auto& x : d) out += " " + x.field + " wanted " + x.wanted + ", read " + x.read + ";";
    if (!d.empty()) out.pop_back();
    return out;
}
}  // namespace

VerifyError::VerifyError(std::vector<Difference> differences)
    : ClientError(differencesText(differences)), m_differences(std::move(differences)) {}

}  // namespace veltra
