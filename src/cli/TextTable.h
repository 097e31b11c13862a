#pragma once
// Aligned, human-readable columns for tarn-cli's text output. Widths count
// terminal cells (a Chinese character takes two), not bytes; control
// characters in a cell (a server may put a line feed into a file name) are
// shown as "?" so one entry stays one line.

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// Terminal cells that strText takes once made printable.
size_t DisplayWidth(std::string_view strText);
// strText with control characters replaced by "?".
std::string PrintableText(std::string_view strText);

class CTextTable
{
public:
    // Cells wider than this do not widen their column further.
    static constexpr size_t MAX_COLUMN_WIDTH = 60;

    void AddRow(std::vector<std::string> cells);
    // Right-aligns a column (sizes).
    void AlignRight(size_t nColumn);
    bool IsEmpty() const { return m_rows.empty(); }
    // Every row, columns separated by two spaces; the last column unpadded.
    void Print(std::FILE* pFile) const;

private:
    std::vector<std::vector<std::string>> m_rows;
    std::vector<bool> m_rightAligned;
};
