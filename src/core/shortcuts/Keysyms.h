#pragma once

#include <QtGlobal>

// The X11 keysym values the program names itself. Core code must not pull in
// X headers, and these numbers are fixed by the X protocol.
namespace Keysym {
inline constexpr quint32 Space = 0x0020;
inline constexpr quint32 Digit0 = 0x0030; // 0x30..0x39 are the digits
inline constexpr quint32 LowerA = 0x0061; // 0x61..0x7a are the letters
inline constexpr quint32 LowerV = 0x0076;
inline constexpr quint32 LowerZ = 0x007a;

inline constexpr quint32 BackSpace = 0xff08;
inline constexpr quint32 Tab = 0xff09;
inline constexpr quint32 Return = 0xff0d;
inline constexpr quint32 Escape = 0xff1b;
inline constexpr quint32 Home = 0xff50;
inline constexpr quint32 Left = 0xff51;
inline constexpr quint32 Up = 0xff52;
inline constexpr quint32 Right = 0xff53;
inline constexpr quint32 Down = 0xff54;
inline constexpr quint32 PageUp = 0xff55;
inline constexpr quint32 PageDown = 0xff56;
inline constexpr quint32 End = 0xff57;
inline constexpr quint32 Insert = 0xff63;
inline constexpr quint32 KpEnter = 0xff8d;
inline constexpr quint32 KpHome = 0xff95;
inline constexpr quint32 KpMultiply = 0xffaa; // then Add, Separator, Subtract, Decimal, Divide
inline constexpr quint32 Kp0 = 0xffb0;        // 0xffb0..0xffb9 are the keypad digits
inline constexpr quint32 F1 = 0xffbe;         // F1..F35 follow one another
inline constexpr quint32 F15 = 0xffcc;
inline constexpr quint32 F35 = 0xffe0;
inline constexpr quint32 Delete = 0xffff;

// Keysyms for characters outside Latin-1 are this offset plus the code point.
inline constexpr quint32 UnicodeOffset = 0x01000000;
} // namespace Keysym
