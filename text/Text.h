#pragma once
// Bounded text building and the angle text format.
//
// The append routines write an 8-bit, zero-terminated text into a caller's fixed buffer and
// return the new end position (the index of the terminator they wrote). Nothing is ever written at
// an index of `size` or above: what does not fit is cut off silently. Positions and sizes are
// unsigned 32-bit. None of them allocates.
//
// Angles are signed 32-bit counts of 1/24 arc-second ("angle units": 86400 per degree), positive
// north and east, written as [-]D:MM:SS.

#include <cstdint>

namespace vornic {

inline constexpr int32_t kAngleUnitsPerDegree = 86400;
inline constexpr int32_t kAngleUnitsPerMinute = 1440;
inline constexpr int32_t kAngleUnitsPerSecond = 24;

// Angle kinds for readAngle: which hemisphere letters are accepted.
inline constexpr int kAngleLatitude = 1;   // N / S
inline constexpr int kAngleLongitude = 2;  // E / W

uint32_t appendText(char* buffer, uint32_t size, uint32_t position, const char* text);
uint32_t appendDecimal(char* buffer, uint32_t size, uint32_t position, int32_t value);
uint32_t appendTwoDigits(char* buffer, uint32_t size, uint32_t position, uint32_t value);
uint32_t appendHex8(char* buffer, uint32_t size, uint32_t position, uint32_t value);
uint32_t appendAngle(char* buffer, uint32_t size, uint32_t position, int32_t angle);

// Reads an optional "-" and a run of decimal digits (32-bit wrapping). Never looks at index `end`
// or beyond. Returns the position after the number; stores the value through `result` if given.
uint32_t readInteger(const char* text, uint32_t end, uint32_t position, int32_t* result);

// Reads an angle text (hemisphere letter per `kind`, [-]D[:.]M[:.]S) into angle units. Reports no
// error: unreadable parts count as 0. Returns the position after what was read.
uint32_t readAngle(const char* text, uint32_t end, uint32_t position, int32_t* result, int kind);

}  // namespace vornic
