#pragma once

#include <QLatin1StringView>
#include <QString>
#include <optional>

namespace powerlog {

// The OpenWebNet open-password algorithm on a 32-bit password.
quint32 openPasswordValue(const QString& nonceDigits, quint32 password);

// The password reply frame for a gateway's nonce. `buffer` holds the receive buffer when the
// password request was recognised and is replaced by the cleaned nonce digits (every '*' and
// '#' removed, every '9' turned into '0').
QString openPasswordReply(QString& buffer, quint32 password);

// The password as the numeric algorithm takes it: digits only once blanks around them are
// dropped, a number below 2^32. Nothing for anything else, which cannot answer a nonce any
// better than no password.
std::optional<quint32> numericPassword(const QString& text);

// The reply frame to a gateway's nonce frame ("*#" + digits + "##"); nothing for any other
// frame, which is not to be answered.
std::optional<QString> nonceReply(QLatin1StringView frame, quint32 password);

} // namespace powerlog
