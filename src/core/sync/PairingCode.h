#pragma once

#include <QString>
#include <optional>
#include <string_view>

// The one-time code two devices share to pair: nine characters of a
// 32-letter alphabet that leaves out I, L, O and U, so that what the user
// reads off one screen can be typed on the other without guessing.
namespace PairingCode {
inline constexpr std::string_view alphabet = "0123456789ABCDEFGHJKMNPQRSTVWXYZ";
inline constexpr int length = 9;

// A fresh code, or nothing when the secure generator fails.
std::optional<QString> generate();
// "ABC-DEF-GHJ" for a nine-character code; anything else unchanged.
QString format(const QString& code);
// What the user typed, as the code it stands for: upper case, no
// separators, O read as 0 and I/L as 1. Never fails: a wrong code just
// yields a key that matches nobody.
QString normalize(const QString& typed);
} // namespace PairingCode
