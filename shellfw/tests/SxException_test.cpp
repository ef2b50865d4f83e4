#include "SxException.h"
#include "SxStream.h"
#include "uTUrl.h"

#include <gtest/gtest.h>

namespace {

class TModule : public TSxComponent {
public:
    using TSxComponent::TSxComponent;
    std::string ClassName() const override { return "TTestModule"; }
};

class ExceptionReporting : public ::testing::Test {
protected:
    void SetUp() override
    {
        module.SetName("modTest");
        SetSxErrorDisplay([this](TSxErrorMessageType type, const TSxCustomExceptionInfo&) { shown.push_back(type); });
    }
    void TearDown() override { SetSxErrorDisplay(nullptr); }

    TModule module;
    std::vector<TSxErrorMessageType> shown;
};

} // namespace

TEST_F(ExceptionReporting, EveryKindOfExceptionBecomesAnHResultAndReachesTheController)
{
    auto& controller = module.Add<TSxExceptionController>("sxController");
    controller.ErrorMessageType = TSxErrorMessageType::dmsExtended;
    std::vector<std::string> classes, messages;
    std::vector<std::vector<std::string>> names;
    controller.OnException = [&](TSxExceptionController&, TSxCustomExceptionInfo& info, bool&) {
        classes.push_back(info.ExceptionClass());
        messages.push_back(info.ExceptionMessage());
        names.push_back(info.DetailNames());
    };
    auto& sender = module.Add<TModule>("sxFolder");

    EXPECT_EQ(SxComCall(&sender, []() -> int32_t { throw ESxStreamError("cut"); }), SxE_FAIL);
    EXPECT_EQ(SxComCall(&sender, []() -> int32_t { throw 42; }), SxE_FAIL);
    EXPECT_EQ(SxComCall(nullptr, []() -> int32_t { throw EOleSysError("denied", int32_t(0x80070005u)); }), SxE_FAIL);
    EXPECT_EQ(SxComCall(&sender, []() -> int32_t { return 7; }), 7);
    EXPECT_EQ(SxComCall(&sender, []() -> int32_t { return int32_t(URLDecode("%zz").size()); }), SxE_FAIL);

    ASSERT_EQ(classes.size(), 4u);
    EXPECT_EQ(classes, (std::vector<std::string>{"ESxStreamError", "Exception", "EOleSysError", "EURLDecode"}));
    EXPECT_EQ(messages[0], "cut");
    EXPECT_EQ(names[0], (std::vector<std::string>{"Date/time", "Class", "Name", "Owner name"}));
    EXPECT_EQ(names[2], (std::vector<std::string>{"Date/time", "OleExceptionCode"})); // no component
    EXPECT_EQ(shown.size(), 4u);
}

TEST_F(ExceptionReporting, DetailsAndMessage)
{
    auto& sender = module.Add<TModule>("sxFolder");
    TSxOleSysExceptionInfo info(&sender, 0x1234, std::make_exception_ptr(EOleSysError("no", SxE_FAIL)));
    info.Build();
    EXPECT_EQ(info.ErrorCode, SxE_FAIL);
    EXPECT_NE(info.Message.find("EOleSysError"), std::string::npos);
    EXPECT_NE(info.Message.find("no"), std::string::npos);
    const std::string text = info.GetExtendedInfo();
    EXPECT_NE(text.find("Class            : TTestModule\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Owner name       : modTest\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("OleExceptionCode : -2147467259\r\n"), std::string::npos) << text;

    TSxCustomExceptionInfo plain(&sender, 0, std::make_exception_ptr(std::runtime_error(std::string(400, 'x'))));
    plain.Build();
    EXPECT_EQ(plain.Message.size(), 259u);
    const std::string four = plain.GetExtendedInfo();
    EXPECT_EQ(four.find("Date/time  : "), 0u) << four; // padded to "Owner name"
    EXPECT_NE(four.find("Name       : sxFolder\r\n"), std::string::npos) << four;
}

TEST_F(ExceptionReporting, AbortIsSilentAndHandlersCanChangeOrSuppress)
{
    auto& first = module.Add<TSxExceptionController>("first");
    auto& second = module.Add<TSxExceptionController>("second");
    first.ErrorMessageType = second.ErrorMessageType = TSxErrorMessageType::dmtSimple;
    int firstCalls = 0, secondCalls = 0;
    first.OnException = [&](TSxExceptionController&, TSxCustomExceptionInfo&, bool&) {
        ++firstCalls;
        throw std::runtime_error("handler fails");
    };
    second.OnException = [&](TSxExceptionController&, TSxCustomExceptionInfo& info, bool& autoReport) {
        ++secondCalls;
        info.ErrorCode = int32_t(0x80070057u);
        autoReport = false;
    };
    EXPECT_EQ(SxHandleException(nullptr, std::make_exception_ptr(EAbort("quiet"))), SxE_FAIL);
    EXPECT_EQ(firstCalls + secondCalls, 0);

    EXPECT_EQ(SxHandleException(nullptr, std::make_exception_ptr(std::runtime_error("a"))), int32_t(0x80070057u));
    EXPECT_EQ(SxHandleException(nullptr, std::make_exception_ptr(std::runtime_error("b"))), int32_t(0x80070057u));
    EXPECT_EQ(firstCalls, 1); // disabled after raising
    EXPECT_EQ(secondCalls, 2);
    EXPECT_TRUE(shown.empty()); // the first never got to report, the second suppressed it
}

TEST_F(ExceptionReporting, FreedControllerStopsReceiving)
{
    int calls = 0;
    {
        TSxExceptionController controller;
        controller.OnException = [&](TSxExceptionController&, TSxCustomExceptionInfo&, bool&) { ++calls; };
        SxHandleException(nullptr, std::make_exception_ptr(std::runtime_error("x")));
    }
    SxHandleException(nullptr, std::make_exception_ptr(std::runtime_error("x")));
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(shown.empty()); // dmtNone shows nothing
}
