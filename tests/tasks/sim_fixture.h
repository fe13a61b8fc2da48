// Task tests against the simulated STB: the simulator on a pseudo-terminal stands behind port
// number kSimPort.
#pragma once

#include <memory>
#include <string>

#include "library/link/upgrade.h"
#include "tasks/notify.h"
#include "tests/tasks/task_fixture.h"
#include "tools/stbsim/stbsim.h"

class SimTaskTest : public TaskTest {
  protected:
    static constexpr int kSimPort = 7;

    // Starts a simulator with the built-in profile `name` and the given faults, and makes it
    // the STB behind g_comPort.
    stbsim::StbSimServer& StartSim(const std::string& name, const stbsim::StbFaults& faults = {}) {
        stbsim::StbSimOptions options;
        EXPECT_TRUE(stbsim::BuiltinProfile(name, &options.profile)) << name;
        options.faults = faults;
        m_sim = std::make_unique<stbsim::StbSimServer>(options);
        std::string error;
        EXPECT_TRUE(m_sim->Start(&error)) << error;
        ComSetDeviceName(kSimPort, m_sim->SlavePath());
        g_comPort = kSimPort;
        return *m_sim;
    }

    // Runs the connect task to its end; true when it succeeded.
    bool Connect() {
        if (StartConnectTask() != 1) {
            return false;
        }
        std::vector<PostedMessage> messages = CollectUntil(WM_CONNECT_DONE);
        EXPECT_TRUE(WaitForWorker(10000));
        return !messages.empty() && messages.back().wParam == 1;
    }

    void TearDown() override {
        TaskTest::TearDown();
        if (m_sim) {
            m_sim->Stop();
            EXPECT_EQ(m_sim->Violations(), std::vector<std::string>());
        }
    }

    std::unique_ptr<stbsim::StbSimServer> m_sim;
};
