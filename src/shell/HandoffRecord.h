#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sonitor {

// The command line a second start hands to the running instance: a signed
// 32-bit little-endian count (at most 128) followed by 128 slots of 260
// bytes, each argument zero-terminated and cut to 259 bytes; slot 0 holds
// the sending program's path. Always exactly 33,284 bytes.
inline constexpr size_t kHandoffSlotBytes = 260;
inline constexpr int kHandoffMaxArguments = 128;
inline constexpr size_t kHandoffRecordBytes = 4 + kHandoffSlotBytes * kHandoffMaxArguments;

// The record for the first min(count, 128) arguments.
std::vector<uint8_t> EncodeHandoffRecord(const std::vector<std::string>& arguments);
// The arguments of a record; nothing when its size is not 33,284 bytes. A
// count above 128 is limited to 128, a negative one reads as 0.
std::optional<std::vector<std::string>> DecodeHandoffRecord(const uint8_t* bytes, size_t size);

// The arguments with every relative file path (a file argument, or the path
// after "-saveas", "-list" or "-batch") made absolute against folder, so
// that the running instance, whose current folder is its own, opens the
// files the user meant. Index 0 and the two numbers after "-window" stay
// as they are, as does anything beginning with '-'.
std::vector<std::string> AbsoluteFileArguments(const std::vector<std::string>& arguments,
                                               const std::string& folder);

// A "-list" file: bytes read one at a time; a line ends at CR or LF, and one
// following byte is consumed too when it is the other of the two (CR LF and
// LF CR end one line, CR CR and LF LF two); at most 259 characters of a line
// are kept; the last line counts without a terminator; empty lines are
// dropped. Nothing when the file cannot be opened.
std::optional<std::vector<std::string>> ReadListFile(const std::string& path);

}  // namespace sonitor
