#pragma once
// Aligned, human-readable columns for tarn-cli's text output. Widths count
// terminal cells (a Chinese character takes two), not bytes. Characters
// that would change the terminal or the order of what follows (control
// characters: a server may put a line feed or an escape sequence into a file
// name; bidirectional controls: "\u202E" turns "gpj.exe" round) are shown
// escaped, as "\x0A" or "\u202E"; everything else is printed as it is.
// --json gives the text unescaped (and a name's bytes when they are not
// UTF-8).

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// Terminal cells that strText takes once made printable.
size_t DisplayWidth(std::string_view strText);
// strText with control and bidirectional characters escaped: "\xHH" below
// U+0080, "\uHHHH" above.
std::string PrintableText(std::string_view strText);

class CTextTable
{
public:
    // Cells wider than this do not widen their column further.
    static constexpr size_t MAX_COLUMN_WIDTH = 60;

    void AddRow(std::vector<std::string> cells);
    // Right-aligns a column (sizes).
    void AlignRight(size_t nColumn);
    // Keeps a column at least this wide even when all its cells are empty,
    // so the columns after it start at the same place in every run.
    void SetMinWidth(size_t nColumn, size_t nWidth);
    bool IsEmpty() const { return m_rows.empty(); }
    // Every row, columns separated by two spaces. Cells are printed as they
    // are (a trailing space of the last one too); only the padding after the
    // last non-empty cell is left out.
    void Print(std::FILE* pFile) const;

private:
    std::vector<std::vector<std::string>> m_rows;
    std::vector<bool> m_rightAligned;
    std::vector<size_t> m_minWidths;
};
