#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <cstdlib>

#include "app/instance_name.h"
#include "platform/single_instance.h"

using namespace yuragi;

TEST(InstanceName, FromTheExecutableName) {
  EXPECT_EQ(InstanceName("/opt/tool.exe"), "tool");
  EXPECT_EQ(InstanceName("/opt/tool.old.exe"), "tool.old");
  EXPECT_EQ(InstanceName("/usr/bin/yuragimaru"), "yuragimaru");
  EXPECT_EQ(InstanceName("/a.b/c/yuragimaru-copy"), "yuragimaru-copy");
  EXPECT_EQ(DefaultApplicationTitle("/opt/tool.exe"), "tool");
  EXPECT_EQ(DefaultApplicationTitle("/opt/Tool.Old.exe"), "Tool");
  EXPECT_EQ(DefaultApplicationTitle("/opt/SCAN.exe"), "Scan");
  EXPECT_EQ(DefaultApplicationTitle("/usr/bin/yuragimaru"), "yuragimaru");
  EXPECT_EQ(DefaultApplicationTitle("/usr/bin/YURAGIMARU"), "Yuragimaru");
}

namespace {

// Asks in a separate process, as a second start would.
bool RunningAsSeenByAnotherProcess(const QString& name) {
  const pid_t child = fork();
  if (child == 0) _exit(IsAlreadyRunning(name) ? 1 : 0);
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 1;
}

}  // namespace

TEST(SingleInstance, LockIsHeldForTheProcessLifeOnly) {
  QTemporaryDir runtime;
  setenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit().constData(), 1);
  const QString name = QStringLiteral("lock-test");

  // Nobody holds it yet.
  EXPECT_FALSE(RunningAsSeenByAnotherProcess(name));

  // A first process takes it and stays; a second one sees it running.
  int ready[2];
  int release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  const pid_t first = fork();
  if (first == 0) {
    const char verdict = IsAlreadyRunning(name) ? 'r' : 'f';
    (void)!write(ready[1], &verdict, 1);
    char wait;
    (void)!read(release[0], &wait, 1);
    _exit(0);
  }
  char verdict = 0;
  ASSERT_EQ(read(ready[0], &verdict, 1), 1);
  EXPECT_EQ(verdict, 'f');
  EXPECT_TRUE(RunningAsSeenByAnotherProcess(name));
  // Another name runs independently.
  EXPECT_FALSE(RunningAsSeenByAnotherProcess(QStringLiteral("lock-test-copy")));

  // When the first has ended, a new start is a first instance again.
  (void)!write(release[1], "x", 1);
  int status = 0;
  waitpid(first, &status, 0);
  EXPECT_FALSE(RunningAsSeenByAnotherProcess(name));
}
