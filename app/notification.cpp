#include "app/notification.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace tarnwick::app {

namespace {

constexpr int kAnswerTimeMs = 5000;

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

QDBusMessage Call(QDBusConnection& bus, const QString& method, const QList<QVariant>& arguments) {
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, method);
    call.setArguments(arguments);
    return bus.call(call, QDBus::Block, kAnswerTimeMs);
}

// A server that takes markup in the text would read '&' and '<' of a path as markup.
QString BodyFor(QDBusConnection& bus, const QString& body) {
    const QDBusMessage answer = Call(bus, QStringLiteral("GetCapabilities"), {});
    const bool markup =
        answer.type() == QDBusMessage::ReplyMessage && !answer.arguments().isEmpty() &&
        answer.arguments().first().toStringList().contains(QStringLiteral("body-markup"));
    return markup ? body.toHtmlEscaped() : body;
}

}  // namespace

bool ShowNotification(const std::string& summary, const std::string& body) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return false;
    }
    const QString text = BodyFor(bus, QString::fromStdString(body));
    const QDBusMessage answer =
        Call(bus, QStringLiteral("Notify"),
             {QStringLiteral("Tarnwick"), 0U, QStringLiteral("tarnwick"),
              QString::fromStdString(summary), text, QStringList(), QVariantMap(), -1});
    return answer.type() == QDBusMessage::ReplyMessage;
}

}  // namespace tarnwick::app
