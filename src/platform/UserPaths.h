#pragma once

#include <QString>
#include <QUrl>

#include <functional>

// Where the user's folders are, and where the local Ollama server is reached, read once the
// same way for every service. The home folder and the environment are handed in, so tests
// describe a user without touching this process's environment.
//
// A relative folder in a variable is ignored and the default used instead: the XDG rule,
// and the rule here for OLLAMA_MODELS too. The server resolves a relative OLLAMA_MODELS
// against its own working directory, which this process cannot know; guessing one (ours,
// or the home folder) would let a model list or a purge act on a folder that has nothing
// to do with Ollama.
class UserPaths
{
public:
    using Environment = std::function<QString(const char *name)>;

    static constexpr int kOllamaPort = 11434;

    // An empty home is the user's home; an unset lookup reads this process's environment.
    explicit UserPaths(QString homePath = {}, Environment environment = {});

    QString home() const { return m_home; }
    // A variable's value when it is an absolute path, cleaned of "." and "..", else empty.
    QString absoluteVariable(const char *name) const;

    // $XDG_CONFIG_HOME, else ~/.config; likewise ~/.cache and ~/.local/share.
    QString configHome() const;
    QString cacheHome() const;
    QString dataHome() const;

    // $HF_HUB_CACHE, else $HF_HOME/hub, else $XDG_CACHE_HOME/huggingface/hub, else
    // ~/.cache/huggingface/hub.
    QString huggingFaceHub() const;

    // $OLLAMA_MODELS as Ollama reads it (surrounding blanks and quotes stripped), when
    // absolute; else ~/.ollama/models.
    QString ollamaModels() const;
    // Where a client reaches the server $OLLAMA_HOST names; see ollamaServerFor.
    QUrl ollamaServer() const;

    // The value as Ollama reads it: surrounding blanks and quotes stripped.
    static QString ollamaValue(const QString &raw);
    // OLLAMA_HOST's value read as Ollama reads it: "host", "host:port", "[v6]:port" or a
    // URL; no scheme is http, and no port is 11434, or 80 and 443 for an explicit http or
    // https. A server listening on every address (0.0.0.0, ::, no host) is reached on
    // loopback (127.0.0.1, ::1). Any path is dropped: requests name their own. Empty or
    // unreadable: http://127.0.0.1:11434.
    static QUrl ollamaServerFor(const QString &ollamaHost);

private:
    QString variable(const char *name) const;

    QString m_home;
    Environment m_environment;
};
