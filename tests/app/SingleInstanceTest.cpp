// One window per user: the lock, the hand-over to the running window, and
// a second start of the real program.
#include <gtest/gtest.h>

#include <QProcess>
#include <QSignalSpy>

#include <future>
#include <thread>

#include "AppTestSupport.h"
#include "qvSearchMainUi.h"
#include "qvSingleInstance.h"
#include "qvSkinArchive.h"

using namespace qvapptest;

namespace {

TEST(SingleInstance, OnlyOneStartHoldsTheLock) {
  QTemporaryDir runtime;
  qvSingleInstance first(runtime.path());
  ASSERT_TRUE(first.Acquire());
  qvSingleInstance second(runtime.path());
  EXPECT_FALSE(second.Acquire());
  EXPECT_TRUE(first.LockPath().endsWith(QStringLiteral("{2A163A1F-AA6C-46d2-9DFD-94FF0DDB507F}.lock")));
}

TEST(SingleInstance, LaterStartWaitsUntilTheFirstAnswers) {
  QTemporaryDir runtime;
  qvSingleInstance first(runtime.path());
  ASSERT_TRUE(first.Acquire());
  QSignalSpy asked(&first, &qvSingleInstance::activationRequested);

  std::promise<void> retried;
  std::future<qvSingleInstance::Handoff> handoff = std::async(std::launch::async, [&] {
    qvSingleInstance second(runtime.path());
    EXPECT_FALSE(second.Acquire());
    bool once = false;
    return second.ActivateFirst(kWaitMs, [&] {
      if (!once) retried.set_value();
      once = true;
    });
  });
  // The first publishes only after the second has found nobody answering.
  retried.get_future().wait();
  ASSERT_TRUE(first.Publish());
  ASSERT_TRUE(WaitUntil([&] { return handoff.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
  EXPECT_EQ(handoff.get(), qvSingleInstance::Handoff::kActivated);
  EXPECT_EQ(asked.count(), 1);
}

TEST(SingleInstance, LaterStartTakesOverWhenTheFirstEnds) {
  QTemporaryDir runtime;
  auto first = std::make_unique<qvSingleInstance>(runtime.path());
  ASSERT_TRUE(first->Acquire());
  qvSingleInstance second(runtime.path());
  bool once = false;
  // The first ends (its lock goes) while the second is retrying.
  EXPECT_EQ(second.ActivateFirst(kWaitMs, [&] {
    if (!once) first.reset();
    once = true;
  }),
            qvSingleInstance::Handoff::kBecameFirst);
  qvSingleInstance third(runtime.path());
  EXPECT_FALSE(third.Acquire());
}

TEST(SingleInstance, StaleSocketFromACrashIsReplaced) {
  QTemporaryDir runtime;
  qvSingleInstance first(runtime.path());
  WriteFile(first.SocketPath(), "left over");
  ASSERT_TRUE(first.Acquire());
  EXPECT_TRUE(first.Publish());
}

TEST(SingleInstance, SecondProgramRaisesTheFirstWindowAndExits) {
  QTemporaryDir runtime;
  AppFolder app(false);
  qvSkinArchive skin;
  ASSERT_TRUE(skin.Load(QV_APP_DIR "skin.dat"));
  qvSearchMainUi window(app.Folder());
  ASSERT_TRUE(window.Create(skin));
  qvSingleInstance instance(runtime.path());
  ASSERT_TRUE(instance.Acquire());
  QObject::connect(&instance, &qvSingleInstance::activationRequested, &window, &qvSearchMainUi::Activate);
  ASSERT_TRUE(instance.Publish());
  window.show();
  window.showMinimized();
  ASSERT_TRUE(window.isMinimized());

  QProcess second;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  second.setProcessEnvironment(env);
  second.start(QStringLiteral(QV_APP_DIR "qvSearchApp"), {});
  ASSERT_TRUE(second.waitForStarted());
  ASSERT_TRUE(WaitUntil([&] { return second.state() == QProcess::NotRunning; }));
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_TRUE(WaitUntil([&] { return !window.isMinimized() && window.isVisible(); }));
  // The second start made no window of its own: it never took the lock.
  qvSingleInstance probe(runtime.path());
  EXPECT_FALSE(probe.Acquire());
}

}  // namespace
