#pragma once
// The pairing token as the companion makes and shows it.

#include <QString>

namespace kestro::companion {

// A fresh token: a random version 4 UUID's 32 hexadecimal digits in lower case, without dashes,
// the same form as the runtime's own.
QString newPairToken();

// The first 6 characters, six bullets and the last 4 for a token of 13 characters or more
// (user-perceived characters); a shorter token whole.
QString maskedToken(const QString& token);

} // namespace kestro::companion
