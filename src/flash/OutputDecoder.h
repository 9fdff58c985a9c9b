#pragma once

#include <QByteArray>
#include <QString>

namespace tavix {

// Turns the bytes a child process writes into text for the console log.
//
// The whole run goes through one decoder, so a UTF-8 character split across two reads comes out
// intact; invalid bytes become U+FFFD. Carriage returns become line feeds, since progress lines
// that overwrite each other on a terminal should stand one below the other in the log; a CR LF
// pair, even split across reads, gives a single line feed.
class OutputDecoder
{
public:
    // The text of these bytes, holding back an incomplete character at the end.
    QString decode(const QByteArray& bytes);
    // What is left at the end of the output: an incomplete character shows as U+FFFD, one for
    // each of its bytes, as it would in the middle of the output.
    QString finish();

private:
    QString clean(QString text);

    QByteArray m_pending;
    bool m_lastWasCarriageReturn = false;
};

}  // namespace tavix
