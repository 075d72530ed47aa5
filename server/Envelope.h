// The compact JSON envelope with which the account endpoints answer.
//
// The agent does not parse it as JSON: it cuts each field's value out of the text between
// "name":" and the next ", so the fields are written by hand, in a fixed order, without blanks.
#pragma once

#include <QByteArray>
#include <QString>
#include <utility>
#include <vector>

namespace Envelope {

// {"name":"value",...} with every value escaped as a JSON string.
QByteArray write(const std::vector<std::pair<const char*, QString>>& fields);

// A value escaped for the inside of a JSON string. A quote that is followed by a comma is written
// as \u0022 rather than \", because the agent's reader would end the value at the ", of \",.
QByteArray escapeValue(const QString& value);

QByteArray error(const QString& message);

} // namespace Envelope
