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
    void Post(double start, double end) { GetMsgPort()->PutMsg(new RenderMessage(start, end, 0, nullptr, this, 0, 1)); }

    Output* Out;
    double FailAt = -1;

protected:
    ~LoggingOp() override { *Destroyed = true; }

private:
    std::vector<std::string>* Log;
    bool* Destroyed;
};

using Results = std::vector<std::pair<double, uint32_t>>;  // time, alpha of the result (0 when none)

struct FlowTest : ::testing::Test {
    std::vector<std::string> Log;
    bool Destroyed = false;
    Results Got;

    LoggingOp* Wire(Flow& flow, double stopAt = 1e9) {
        LoggingOp* op = new LoggingOp(&Log, &Destroyed);
        flow.AddTool(op);
        flow.PrepareFrame = [this, stopAt](Operator*, double t) {
            Log.push_back("prepare " + std::to_string(int(t)));
            return t < stopAt;
        };
        flow.FrameDone = [this](Operator*, double t, Image* img) {
            Got.emplace_back(t, img ? img->GetPixel(0, 0).A : 0u);
            if (img) {
                EXPECT_EQ(img->RefCount(), 1);
                img->Recycle();
            }
        };
        return op;
    }
};

TEST_F(FlowTest, RenderRunsPrepareProcessAndDoneInFrameOrderThenEndRender) {
    {
        Flow flow(0, 10);
        EXPECT_EQ(Wire(flow)->GetFlow(), &flow);
        flow.RequestFlags = Request::FlagQuick;
        EXPECT_TRUE(flow.Render(2, 4));
        EXPECT_FALSE(Destroyed);
    }
    EXPECT_TRUE(Destroyed);
    EXPECT_EQ(Log, (std::vector<std::string>{"add", "start", "prepare 2", "process 2 flags 1", "prepare 3",
                                             "process 3 flags 1", "prepare 4", "process 4 flags 1", "end", "remove"}));
    EXPECT_EQ(Got, (Results{{2, 2}, {3, 3}, {4, 4}}));
}

TEST_F(FlowTest, AStoppedFailingOrEmptyRenderStillEndsTheRender) {
    Flow flow(0, 10);
    LoggingOp* op = Wire(flow, 6);
    EXPECT_FALSE(flow.Render(5, 9));
    EXPECT_EQ(std::vector<std::string>(Log.end() - 3, Log.end()),
              (std::vector<std::string>{"process 5 flags 0", "prepare 6", "end"}));
    EXPECT_EQ(Got.size(), 1u);

    op->FailAt = 3;
    EXPECT_THROW(flow.Render(2, 5), std::runtime_error);
    EXPECT_EQ(Log.back(), "end");
    EXPECT_EQ(Got.size(), 2u);

    EXPECT_TRUE(flow.Render(5, 4));
    EXPECT_EQ(Log.back(), "end");
    EXPECT_EQ(Got.size(), 2u);
}

TEST_F(FlowTest, FramesUpToSimulateOnlyBeforeOrSkippedByTheFrameListGiveNoPicture) {
    Flow flow(0, 10);
    Wire(flow);
    flow.SimulateOnlyBefore = 1;
    flow.Render(0, 2);
    EXPECT_EQ(Got, (Results{{0, 0}, {1, 0}, {2, 2}}));
    EXPECT_EQ(Log[3], "process 0 flags 2");
    EXPECT_EQ(Log[7], "process 2 flags 0");

    Got.clear();
    Log.clear();
    flow.SimulateOnlyBefore = -1e300;
    flow.DrawFrame = [](double t) { return t != 4; };
    flow.Render(3, 5);
    EXPECT_EQ(Got, (Results{{3, 3}, {4, 0}, {5, 5}}));
    EXPECT_EQ(std::count(Log.begin(), Log.end(), "end"), 1);
}

TEST_F(FlowTest, ServeMessagesRendersEachPostedRangeInOrderAndIgnoresNull) {
    Flow flow(0, 100);
    LoggingOp* op = Wire(flow);
    flow.Port().PutMsg(nullptr);
    EXPECT_TRUE(flow.Port().Empty());
    op->Post(7, 8);
    op->Post(20, 20);
    EXPECT_EQ(flow.ServeMessages(), 2);
    EXPECT_TRUE(flow.Port().Empty());
    EXPECT_EQ(flow.Port().GetMsg(), nullptr);
    EXPECT_EQ(Got, (Results{{7, 7}, {8, 8}, {20, 20}}));
    EXPECT_EQ(std::count(Log.begin(), Log.end(), "end"), 2);
    EXPECT_EQ(flow.ServeMessages(), 0);
}

}  // namespace
