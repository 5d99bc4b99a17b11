// SPDX-License-Identifier: GPL-3.0-or-later
#include "views/screen_awake.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>

namespace norvo::views {
namespace {

constexpr char kService[] = "org.freedesktop.ScreenSaver";
constexpr char kPath[] = "/org/freedesktop/ScreenSaver";
constexpr char kInterface[] = "org.freedesktop.ScreenSaver";
// A desktop that does not answer within this time is taken as having no
// screen saver service; the show must not wait on it.
constexpr int kCallTimeoutMs = 1000;

bool ServicePresent(const QDBusConnection& bus) {
  if (!bus.isConnected() || bus.interface() == nullptr) return false;
  const QDBusReply<bool> registered = bus.interface()->isServiceRegistered(QString::fromLatin1(kService));
  return registered.isValid() && registered.value();
}

}  // namespace

ScreenAwake::ScreenAwake(const QString& reason) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!ServicePresent(bus)) return;
  QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                                                     QString::fromLatin1(kInterface), QStringLiteral("Inhibit"));
  call << QCoreApplication::applicationName() << reason;
  const QDBusReply<uint> reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
  if (reply.isValid()) cookie_ = reply.value();
}

ScreenAwake::~ScreenAwake() {
  if (cookie_ == 0) return;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;
  QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                                                     QString::fromLatin1(kInterface), QStringLiteral("UnInhibit"));
  call << cookie_;
  // The answer does not matter: the service also lifts it when we go away.
  bus.call(call, QDBus::NoBlock);
}

}  // namespace norvo::views
