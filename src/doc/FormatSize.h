#pragma once
// The size text of the file list: "%d字节" below 1024 bytes, then K, M and G
// with two decimals. Shared by the window's file list and tarn-cli so both
// show the same text.

#include <cstdint>
#include <string>

std::string FormatSize(int64_t nSize);
