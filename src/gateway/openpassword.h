#pragma once

#include <QString>

namespace powerlog {

// The OpenWebNet open-password algorithm on a 32-bit password.
quint32 openPasswordValue(const QString& nonceDigits, quint32 password);

// The password reply frame for a gateway's nonce. `buffer` holds the receive buffer when the
// password request was recognised and is replaced by the cleaned nonce digits (every '*' and
// '#' removed, every '9' turned into '0').
QString OpenPasswordReply(QString& buffer, quint32 password);

} // namespace powerlog
