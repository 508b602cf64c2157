#pragma once

#include <QByteArray>
#include <QNetworkRequest>
#include <QString>

#include <functional>

class QNetworkAccessManager;
class QObject;

// What one bounded GET came to.
struct BoundedReply
{
    enum Outcome {
        Answered,     // an HTTP answer, read whole: see status and body
        Refused,      // nothing listens there
        NoAnswer,     // no HTTP answer (reset, closed, DNS, TLS...): see error
        TooLarge,     // the body passed the cap and the transfer was cut
        TimedOut,     // the deadline passed first
        Redirected,   // a redirect to another scheme, host or port, not followed
    };
    Outcome outcome = NoAnswer;
    int status = 0;
    // With Answered: whether the body came whole (an error status counts as whole), or
    // the exchange broke off after the status line.
    bool complete = false;
    QByteArray body;
    QString error;
};

// A GET whose reply cannot grow without bound or last for ever: the body is read as it
// comes and the transfer is cut once it passes `maxBytes`; one deadline covers the whole
// exchange, and progress does not push it back; a redirect is followed only to the same
// scheme, host and port, checked at every hop.
class BoundedHttpGet
{
public:
    struct Limits
    {
        qint64 maxBytes = 64 * 1024;
        int deadlineMs = 5000;
    };

    // Starts the GET on `network`; `done` is called once, in `context`'s thread, unless
    // `context` is gone by then.
    static void get(QNetworkAccessManager &network, QNetworkRequest request, Limits limits, QObject *context,
                    std::function<void(const BoundedReply &)> done);
};
