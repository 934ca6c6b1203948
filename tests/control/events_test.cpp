// Progress, Progress64 and Done reach every advised sink in connection order, and a sink that
// drops the last reference of the control is survived and reported.
#include "control/Ombrix.h"

#include <gtest/gtest.h>

#include <vector>

#include "control/fake_sink.h"
#include "test_util.h"

using ombrix::COmbrix;
using Control = com::ComObject<COmbrix>;
using test::ComPtr;
using test::Call;
using test::EventsPoint;
using test::FakeSink;

namespace {

TEST(Events, ReachEverySinkInConnectionOrderWithTheirArguments) {
    Control* control = nullptr;
    ASSERT_EQ(Control::CreateInstance(&control), S_OK);
    std::vector<Call> log;
    FakeSink first(1, log), second(2, log);
    auto point = EventsPoint(control);
    DWORD cookie1 = 0, cookie2 = 0;
    ASSERT_EQ(point->Advise(&first, &cookie1), S_OK);
    ASSERT_EQ(point->Advise(&second, &cookie2), S_OK);
    EXPECT_NE(cookie1, cookie2);

    EXPECT_TRUE(control->FireProgress(5, 10));
    EXPECT_TRUE(control->FireProgress(0x100000003ull, 0x200000004ull));
    EXPECT_TRUE(control->FireProgress(7, 0xFFFFFFFFull));
    EXPECT_TRUE(control->FireDone());

    ASSERT_EQ(log.size(), 8u);
    const std::vector<Call> expected = {
        {1, 1, {5, 10}},       {2, 1, {5, 10}},
        {1, 2, {1, 3, 2, 4}},  {2, 2, {1, 3, 2, 4}},
        {1, 1, {7, -1}},       {2, 1, {7, -1}},
        {1, 0, {}},            {2, 0, {}},
    };
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(log[i].sink, expected[i].sink) << i;
        EXPECT_EQ(log[i].id, expected[i].id) << i;
        EXPECT_EQ(log[i].arguments, expected[i].arguments) << i;
    }
    EXPECT_EQ(first.last_lcid, static_cast<LCID>(0x400));
    EXPECT_EQ(first.last_flags, DISPATCH_METHOD);
    EXPECT_TRUE(first.last_iid_null);

    ASSERT_EQ(point->Unadvise(cookie1), S_OK);
    EXPECT_EQ(point->Unadvise(cookie1), CONNECT_E_NOCONNECTION);
    log.clear();
    control->FireDone();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].sink, 2);
    point->Unadvise(cookie2);
    point.Reset();
    control->Release();
    EXPECT_EQ(first.refs(), 0u);
    EXPECT_EQ(second.refs(), 0u);
}

TEST(Events, NothingFiresWhileFireEventsIsFalse) {
    Control* control = nullptr;
    ASSERT_EQ(Control::CreateInstance(&control), S_OK);
    std::vector<Call> log;
    FakeSink sink(1, log);
    auto point = EventsPoint(control);
    DWORD cookie = 0;
    point->Advise(&sink, &cookie);
    control->put_FireEvents(VARIANT_FALSE);
    EXPECT_TRUE(control->FireProgress(1, 2));
    EXPECT_TRUE(control->FireDone());
    EXPECT_TRUE(log.empty());
    point.Reset();
    control->Release();
}

TEST(Events, SinkReleasingTheLastReferenceIsSurvivedAndReported) {
    Control* control = nullptr;
    ASSERT_EQ(Control::CreateInstance(&control), S_OK);
    std::vector<Call> log;
    FakeSink sink(1, log);
    {
        auto point = EventsPoint(control);
        DWORD cookie = 0;
        ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
    }
    Control* owned = control;
    sink.on_invoke = [&owned] {
        if (owned) std::exchange(owned, nullptr)->Release();
    };
    EXPECT_FALSE(control->FireProgress(1, 2));  // the firing destroyed the control
    EXPECT_EQ(owned, nullptr);
    EXPECT_EQ(sink.refs(), 0u);  // the destroyed control let go of its sink
}

TEST(Events, ContainerEnumeratesItsOnePointAndConnections) {
    Control* control = nullptr;
    ASSERT_EQ(Control::CreateInstance(&control), S_OK);
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(control->QueryInterface(IID_IConnectionPointContainer, &container), S_OK);
    ComPtr<IConnectionPoint> missing;
    EXPECT_EQ(container->FindConnectionPoint(IID_IDispatch, &missing), CONNECT_E_NOCONNECTION);

    ComPtr<IEnumConnectionPoints> points;
    ASSERT_EQ(container->EnumConnectionPoints(&points), S_OK);
    IConnectionPoint* fetched[2] = {};
    ULONG count = 0;
    EXPECT_EQ(points->Next(2, fetched, &count), S_FALSE);
    ASSERT_EQ(count, 1u);
    IID iid{};
    fetched[0]->GetConnectionInterface(&iid);
    EXPECT_TRUE(IsEqualIID(iid, DIID__IOmbrixEvents));
    ComPtr<IConnectionPointContainer> back;
    fetched[0]->GetConnectionPointContainer(&back);
    EXPECT_EQ(back.Get(), container.Get());

    std::vector<Call> log;
    FakeSink a(1, log), b(2, log);
    DWORD ca = 0, cb = 0;
    fetched[0]->Advise(&a, &ca);
    fetched[0]->Advise(&b, &cb);
    ComPtr<IEnumConnections> connections;
    ASSERT_EQ(fetched[0]->EnumConnections(&connections), S_OK);
    CONNECTDATA data[3] = {};
    ASSERT_EQ(connections->Next(3, data, &count), S_FALSE);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(data[0].dwCookie, ca);
    EXPECT_EQ(data[1].dwCookie, cb);
    for (ULONG i = 0; i < count; ++i) data[i].pUnk->Release();
    connections.Reset();

    // An object without IDispatch cannot be a sink.
    ComPtr<IUnknown> not_a_sink;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, reinterpret_cast<IStream**>(not_a_sink.GetAddressOf())), S_OK);
    DWORD cookie = 123;
    EXPECT_EQ(fetched[0]->Advise(not_a_sink.Get(), &cookie), CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(cookie, 0u);

    fetched[0]->Release();
    points.Reset();
    back.Reset();
    container.Reset();
    control->Release();
    EXPECT_EQ(a.refs(), 0u);
    EXPECT_EQ(b.refs(), 0u);
}

}  // namespace
