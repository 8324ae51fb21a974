#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace plovik::cli::terminal {

// Whether the descriptor is a terminal (not a pipe or a file).
bool isTerminal(int descriptor);
// Columns of the terminal on standard output; none when it is not one.
std::optional<int> columns();
// Whether text on standard output may be coloured: a terminal that is not "dumb", NO_COLOR unset.
bool colours();

// `text` cut to at most `width` terminal columns (East Asian characters take two), with "…" when
// something was cut.
std::string fitted(std::string_view text, int width);

// One line of text for a terminal or a script: control characters (escape sequences among them),
// line breaks and the controls that reorder bidirectional text become spaces, runs of spaces one.
std::string oneLine(std::string_view text);

// Text for one field of a line, changed as little as possible: control characters (tabs, line
// breaks and escape sequences among them) become "?", nothing else changes.
std::string printable(std::string_view text);

// Everything the descriptor gives, up to `limit` bytes and one more (so a caller can tell that
// there was more). Throws std::system_error when reading fails.
std::string readAtMost(int descriptor, std::size_t limit);

// Reads a secret: from the terminal without echo (after `prompt` on standard error) when
// standard input is one, else everything standard input holds. Nothing when nothing came.
std::optional<std::string> readSecret(std::string_view prompt);

// A line on standard error that shows work is going on, while the object lives; only when
// standard error is a terminal. The line is cleared at the end.
class Progress {
public:
    explicit Progress(std::string text);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

private:
    std::string m_text;
    std::atomic<bool> m_done{false};
    std::thread m_spinner;
};

}  // namespace plovik::cli::terminal
