#include <gtest/gtest.h>

#include <QLocalSocket>
#include <string>

#include "platform/instance_activation.h"
#include "platform/single_instance.h"

using namespace yuragi;

TEST(ActivationServer, ListensOrSaysWhyItCannot) {
  {
    ActivationServer server(QStringLiteral("yuragimaru-activation-test"));
    EXPECT_TRUE(server.IsListening());
    QLocalSocket socket;
    socket.connectToServer(InstanceSocketName(QStringLiteral("yuragimaru-activation-test")));
    EXPECT_TRUE(socket.waitForConnected(10000));
  }
  // A socket path longer than the system allows cannot be listened on: the
  // reason goes to stderr and the instance carries on without it.
  const QString tooLong(300, QLatin1Char('y'));
  ::testing::internal::CaptureStderr();
  ActivationServer server(tooLong);
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_FALSE(server.IsListening());
  EXPECT_NE(said.find("cannot listen for activation"), std::string::npos) << said;
  ActivateRunningInstance(tooLong);  // nobody answers: nothing happens
}
