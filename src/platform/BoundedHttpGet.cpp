#include "BoundedHttpGet.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QTimer>

#include <memory>

void BoundedHttpGet::get(QNetworkAccessManager &network, QNetworkRequest request, Limits limits, QObject *context,
                         std::function<void(const BoundedReply &)> done)
{
    const QUrl origin = request.url();
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setTransferTimeout(0);   // the deadline below stands instead: progress must not reset it
    QNetworkReply *reply = network.get(request);

    struct State
    {
        BoundedReply result;
        bool cut = false;   // the outcome is decided; the reply only has to end
    };
    auto state = std::make_shared<State>();
    const auto cut = [reply, state](BoundedReply::Outcome outcome, const QString &why) {
        if (state->cut)
            return;
        state->cut = true;
        state->result.outcome = outcome;
        state->result.error = why;
        state->result.body.clear();
        reply->abort();
    };

    auto *deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, reply, [cut, limits] {
        cut(BoundedReply::TimedOut, QStringLiteral("no complete answer within %1 ms").arg(limits.deadlineMs));
    });
    deadline->start(limits.deadlineMs);

    QObject::connect(reply, &QNetworkReply::redirected, reply, [reply, origin, cut](const QUrl &target) {
        const QUrl to = origin.resolved(target);
        if (to.scheme().compare(origin.scheme(), Qt::CaseInsensitive) == 0
            && to.host().compare(origin.host(), Qt::CaseInsensitive) == 0
            && to.port(origin.scheme() == QLatin1String("https") ? 443 : 80)
                   == origin.port(origin.scheme() == QLatin1String("https") ? 443 : 80)) {
            Q_EMIT reply->redirectAllowed();
            return;
        }
        cut(BoundedReply::Redirected, QStringLiteral("redirected to another host: %1").arg(to.toDisplayString()));
    });
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, state, cut, limits] {
        if (state->cut) {
            reply->readAll();
            return;
        }
        state->result.body += reply->readAll();
        if (state->result.body.size() > limits.maxBytes)
            cut(BoundedReply::TooLarge, QStringLiteral("answer larger than %1 bytes").arg(limits.maxBytes));
    });
    QObject::connect(reply, &QNetworkReply::finished, context,
                     [reply, state, done = std::move(done)] {
                         reply->deleteLater();
                         BoundedReply &r = state->result;
                         if (!state->cut) {
                             r.body += reply->readAll();
                             const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
                             const QNetworkReply::NetworkError error = reply->error();
                             if (status.isValid()) {
                                 r.outcome = BoundedReply::Answered;
                                 r.status = status.toInt();
                                 // Errors in the content and server classes only restate the status.
                                 r.complete = error == QNetworkReply::NoError
                                           || (error >= QNetworkReply::ContentAccessDenied && error <= QNetworkReply::UnknownContentError)
                                           || (error >= QNetworkReply::InternalServerError && error <= QNetworkReply::UnknownServerError);
                                 if (!r.complete)
                                     r.error = reply->errorString();
                             } else {
                                 r.outcome = error == QNetworkReply::ConnectionRefusedError ? BoundedReply::Refused
                                                                                            : BoundedReply::NoAnswer;
                                 r.error = reply->errorString();
                                 r.body.clear();
                             }
                         }
                         done(r);
                     });
    // Without a context to answer in, the reply still goes.
    QObject::connect(context, &QObject::destroyed, reply, [reply] {
        reply->abort();
        reply->deleteLater();
    });
}
