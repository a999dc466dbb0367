#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/flow.h"
#include "host/operator.h"

namespace {

// A tool that logs the host's calls and outputs a 1x1 image per frame.
class LoggingOp : public Operator {
public:
    LoggingOp(std::vector<std::string>* log, bool* destroyed)
        : Operator(nullptr, nullptr, nullptr), Log(log), Destroyed(destroyed) {
        Out = AddOutput("Image", DT_Image, FourCC("Out1"));
    }
    void OnAddToFlow() override { Log->push_back("add"); }
    void OnRemoveFromFlow() override { Log->push_back("remove"); }
    void OnStartRender() override { Log->push_back("start"); }
    void OnEndRender() override { Log->push_back("end"); }
    void Process(Request* req) override {
        if (req->Time() == FailAt) throw std::runtime_error("frame failed");
        Log->push_back("process " + std::to_string(int(req->Time())) + " flags " + std::to_string(req->Flags()));
        if (req->Flags() & Request::FlagSimulateOnly) return;
        Image* img = new Image(1, 1);
        img->SetPixel(0, 0, HostPixel{0, 0, 0, uint32_t(req->Time())});
        req->SetOutputData(Out, img);
    }
    // Posts a render of a range (as a recording button would).
    void Post(double start, double end) { GetMsgPort()->PutMsg(new RenderMessage(start, end, 0, nullptr, this, 0, 1)); }

    Output* Out;
    double FailAt = -1;

protected:
    ~LoggingOp() override { *Destroyed = true; }

private:
    std::vector<std::string>* Log;
    bool* Destroyed;
};

struct FlowTest : ::testing::Test {
    std::vector<std::string> Log;
    bool Destroyed = false;
    std::vector<std::pair<double, uint32_t>> Results;  // time, alpha of the result (0 when none)

    void Wire(Flow& flow, double stopAt = 1e9) {
        flow.PrepareFrame = [this, stopAt](Operator*, double t) {
            Log.push_back("prepare " + std::to_string(int(t)));
            return t < stopAt;
        };
        flow.FrameDone = [this](Operator*, double t, Image* img) {
            Results.emplace_back(t, img ? img->GetPixel(0, 0).A : 0u);
            if (img) {
                EXPECT_EQ(img->RefCount(), 1);
                img->Recycle();
            }
        };
    }
};

TEST_F(FlowTest, RenderRunsPrepareProcessAndDoneInFrameOrderThenEndRender) {
    {
        Flow flow(0, 10);
        LoggingOp* op = new LoggingOp(&Log, &Destroyed);
        flow.AddTool(op);
        EXPECT_EQ(op->GetFlow(), &flow);
        Wire(flow);
        flow.RequestFlags = Request::FlagQuick;
        EXPECT_TRUE(flow.Render(2, 4));
        EXPECT_FALSE(Destroyed);
    }
    EXPECT_TRUE(Destroyed);
    EXPECT_EQ(Log, (std::vector<std::string>{"add", "start", "prepare 2", "process 2 flags 1", "prepare 3",
                                             "process 3 flags 1", "prepare 4", "process 4 flags 1", "end", "remove"}));
    EXPECT_EQ(Results, (std::vector<std::pair<double, uint32_t>>{{2, 2}, {3, 3}, {4, 4}}));
}

TEST_F(FlowTest, AStoppedFailingOrEmptyRenderStillEndsTheRender) {
    Flow flow(0, 10);
    LoggingOp* op = new LoggingOp(&Log, &Destroyed);
    flow.AddTool(op);
    Wire(flow, 6);
    EXPECT_FALSE(flow.Render(5, 9));
    EXPECT_EQ(std::vector<std::string>(Log.end() - 3, Log.end()),
              (std::vector<std::string>{"process 5 flags 0", "prepare 6", "end"}));
    EXPECT_EQ(Results.size(), 1u);

    op->FailAt = 3;
    EXPECT_THROW(flow.Render(2, 5), std::runtime_error);
    EXPECT_EQ(Log.back(), "end");
    EXPECT_EQ(Results.size(), 2u);

    EXPECT_TRUE(flow.Render(5, 4));
    EXPECT_EQ(Log.back(), "end");
    EXPECT_EQ(Results.size(), 2u);
}

TEST_F(FlowTest, FramesUpToSimulateOnlyBeforeCarryTheSimulateFlagAndGiveNoPicture) {
    Flow flow(0, 10);
    flow.AddTool(new LoggingOp(&Log, &Destroyed));
    Wire(flow);
    flow.SimulateOnlyBefore = 1;
    flow.Render(0, 2);
    EXPECT_EQ(Results, (std::vector<std::pair<double, uint32_t>>{{0, 0}, {1, 0}, {2, 2}}));
    EXPECT_EQ(Log[3], "process 0 flags 2");
    EXPECT_EQ(Log[7], "process 2 flags 0");

    // Frames a frame list skips are simulated only, in the same single render.
    Results.clear();
    Log.clear();
    flow.SimulateOnlyBefore = -1e300;
    flow.DrawFrame = [](double t) { return t != 4; };
    flow.Render(3, 5);
    EXPECT_EQ(Results, (std::vector<std::pair<double, uint32_t>>{{3, 3}, {4, 0}, {5, 5}}));
    EXPECT_EQ(std::count(Log.begin(), Log.end(), "end"), 1);
}

TEST_F(FlowTest, ServeMessagesRendersEachPostedRangeInOrder) {
    Flow flow(0, 100);
    LoggingOp* op = new LoggingOp(&Log, &Destroyed);
    flow.AddTool(op);
    Wire(flow);
    op->Post(7, 8);
    op->Post(20, 20);
    EXPECT_EQ(flow.ServeMessages(), 2);
    EXPECT_TRUE(flow.Port().Empty());
    EXPECT_EQ(Results, (std::vector<std::pair<double, uint32_t>>{{7, 7}, {8, 8}, {20, 20}}));
    EXPECT_EQ(std::count(Log.begin(), Log.end(), "end"), 2);
    EXPECT_EQ(flow.ServeMessages(), 0);
}

TEST(MsgPortQueue, AnEmptyPortGivesNothingAndNullIsIgnored) {
    MsgPort port;
    EXPECT_EQ(port.GetMsg(), nullptr);
    port.PutMsg(nullptr);
    EXPECT_TRUE(port.Empty());
}

}  // namespace
