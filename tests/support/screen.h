// A terminal screen fed what a program writes: text, CR, LF, cursor up and home, erase in line and in
// display, autowrap at the right edge, and rows rewrapped when it gets narrower (as many terminals do).
// Enough to see what a person would see.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class Screen {
  public:
    Screen(int columns, int rows) : columns_(columns) {
        cells_.assign(static_cast<std::size_t>(rows), std::vector<std::string>(columns, " "));
    }

    // Each row longer than the new width is rewrapped onto as many rows as it needs; what no longer fits
    // leaves at the top. The cursor stays with its text.
    void resize(int columns, int rows) {
        std::vector<std::vector<std::string>> next;
        int cursorRow = 0;
        for (int r = 0; r < static_cast<int>(cells_.size()); ++r) {
            std::vector<std::string> row = cells_[r];
            while (!row.empty() && row.back() == " ") row.pop_back();
            if (r == row_) cursorRow = static_cast<int>(next.size()) + std::min(column_, static_cast<int>(row.size())) / columns;
            std::size_t at = 0;
            do {
                std::vector<std::string> piece(row.begin() + at, row.begin() + std::min(row.size(), at + columns));
                piece.resize(static_cast<std::size_t>(columns), " ");
                next.push_back(std::move(piece));
                at += static_cast<std::size_t>(columns);
            } while (at < row.size());
        }
        // Blank rows below the cursor go first, then rows from the top.
        while (static_cast<int>(next.size()) > rows && static_cast<int>(next.size()) - 1 > cursorRow) next.pop_back();
        while (static_cast<int>(next.size()) > rows) {
            next.erase(next.begin());
            --cursorRow;
        }
        next.resize(static_cast<std::size_t>(rows), std::vector<std::string>(columns, " "));
        cells_ = std::move(next);
        columns_ = columns;
        row_ = std::max(cursorRow, 0);
        column_ = std::min(column_ % columns, columns - 1);
    }

    void feed(std::string_view bytes) {
        for (char c : bytes) put(static_cast<unsigned char>(c));
    }

    // Each row without its trailing blanks.
    std::vector<std::string> rows() const {
        std::vector<std::string> out;
        for (const auto& row : cells_) {
            std::string text;
            for (const std::string& cell : row) text += cell;
            out.push_back(text.substr(0, text.find_last_not_of(' ') + 1));
        }
        return out;
    }
    std::string text() const {
        std::string out;
        for (const std::string& row : rows()) out += row + "\n";
        return out;
    }

  private:
    void put(unsigned char c) {
        if (!escape_.empty()) {
            escape_ += static_cast<char>(c);
            if (escape_.size() == 2 && c != '[') escape_.clear();
            if (escape_.size() > 2 && c >= 0x40 && c <= 0x7E) control();
            return;
        }
        if (c == 0x1B) {
            escape_ = "\x1b";
        } else if (c == '\r') {
            column_ = 0;
        } else if (c == '\n') {
            lineFeed();
        } else if ((c & 0xC0) == 0x80 && column_ > 0) {
            cells_[row_][column_ - 1] += static_cast<char>(c);  // the rest of a UTF-8 character
        } else if (c >= 0x20) {
            if (column_ == columns_) {  // the wrap waiting since the last column was written
                column_ = 0;
                lineFeed();
            }
            cells_[row_][column_++] = std::string(1, static_cast<char>(c));
        }
    }
    void lineFeed() {
        if (row_ + 1 < static_cast<int>(cells_.size())) {
            ++row_;
        } else {
            cells_.erase(cells_.begin());
            cells_.emplace_back(static_cast<std::size_t>(columns_), " ");
        }
    }
    void clear(int row, int from) {
        for (int c = from; c < columns_; ++c) cells_[row][c] = " ";
    }
    void control() {
        const char final = escape_.back();
        const std::string digits = escape_.substr(2, escape_.size() - 3);
        const int n = digits.empty() ? 0 : std::stoi(digits);
        escape_.clear();
        if (final == 'A') row_ = std::max(0, row_ - std::max(n, 1));
        if (final == 'H') row_ = column_ = 0;
        if (final == 'K') clear(row_, std::min(column_, columns_));
        if (final == 'J') {
            const int rows = static_cast<int>(cells_.size());
            for (int r = n == 2 ? 0 : row_; r < rows; ++r) clear(r, n == 2 || r > row_ ? 0 : std::min(column_, columns_));
        }
    }

    int columns_ = 80;
    int row_ = 0;
    int column_ = 0;
    std::string escape_;
    std::vector<std::vector<std::string>> cells_;
};
