#include "messages.hpp"
#include "ostrak/error.hpp"
#include "ostrak/safe_files.hpp"
#include "ostrak/workspace.hpp"
#include "station/presence.hpp"
#include "text/text.hpp"

namespace ostrak {

namespace {
constexpr std::size_t noteLimit = Workspace::maximumNoteBytes;  // the body and the whole file
}

Path Workspace::writeNote(std::string_view title, std::string_view body) const {
    const std::string validTitle = validName(title);
    if (text::trimmed(body).empty() || body.size() > noteLimit) {
        throw OstrakError(message::noteBodyInvalid);
    }
    const Path destination = knowledgeURL() / "notes" / (Uuid::random().text() + ".md");
    Bytes content;
    content.reserve(validTitle.size() + body.size() + 5);
    content.append("# ").append(validTitle).append("\n\n").append(body).append("\n");
    if (content.size() > noteLimit) throw OstrakError(message::noteTooLarge);
    requirePresent(m_root);
    SafeFiles::writeData(content, destination, true);
    return destination;
}

}  // namespace ostrak
