// SPDX-License-Identifier: MIT
#include "commands/mapi_session.h"

#include <gtest/gtest.h>

#include <vector>

#include "commands/fakes/fake_mapi_fixture.h"

namespace {

class MapiSessionTest : public FakeMapiTest {
  protected:
    static ParamMap params(std::initializer_list<std::pair<const char*, const char*>> entries) {
        ParamMap map;
        for (const auto& [key, value] : entries) {
            map[KsString(key)] = KsString(value);
        }
        return map;
    }
};

TEST_F(MapiSessionTest, LogsOnToTheDefaultProfileAndTearsDownInOrder) {
    {
        MapiSession session(params({}));
        EXPECT_EQ(session.status(), 0);
        EXPECT_NE(session.logonSession(), nullptr);
        EXPECT_EQ(state_->initializeCalls, 1);
        EXPECT_TRUE(state_->initArgWasNull);
        EXPECT_EQ(state_->logonCalls, 1);
        EXPECT_EQ(state_->lastFlags, 0x63u);
        EXPECT_TRUE(state_->lastProfileWasNull);
        EXPECT_EQ(state_->lastUiParam, 0u);
        EXPECT_EQ(state_->liveSessions, 1);
    }
    EXPECT_EQ(state_->logoffCalls, 1);
    EXPECT_EQ(state_->lastLogoffSum, 0u);
    EXPECT_EQ(state_->liveSessions, 0);
    EXPECT_EQ(state_->uninitializeCalls, 1);
}

TEST_F(MapiSessionTest, ParentBecomesTheUiParameter) {
    { MapiSession session(params({{"parent", "132456"}})); }
    EXPECT_EQ(state_->lastUiParam, 132456u);
    { MapiSession session(params({{"parent", "abc"}})); }
    EXPECT_EQ(state_->lastUiParam, 0u);
    { MapiSession session(params({{"Parent", "77"}})); }
    EXPECT_EQ(state_->lastUiParam, 0u) << "keys compare exactly";
}

TEST_F(MapiSessionTest, FailedInitializeSkipsLogonButStillUninitializes) {
    state_->initializeResult = static_cast<HRESULT>(0x80004005);
    {
        MapiSession session(params({}));
        EXPECT_EQ(session.status(), static_cast<HRESULT>(0x80004005));
        EXPECT_EQ(session.logonSession(), nullptr);
    }
    EXPECT_EQ(state_->logonCalls, 0);
    EXPECT_EQ(state_->uninitializeCalls, 1);
}

TEST_F(MapiSessionTest, FailedLogonKeepsItsCode) {
    state_->logonResult = MAPI_E_USER_CANCEL;
    {
        MapiSession session(params({}));
        EXPECT_EQ(session.status(), MAPI_E_USER_CANCEL);
        EXPECT_EQ(session.logonSession(), nullptr);
    }
    EXPECT_EQ(state_->logoffCalls, 0);
    EXPECT_EQ(state_->uninitializeCalls, 1);
}

TEST_F(MapiSessionTest, MissingLogonEntryPointIsNoSupportWithoutAnyCall) {
    {
        MapiSession session(params({}), "mapi32_nologon.dll");
        EXPECT_EQ(session.status(), MAPI_E_NO_SUPPORT);
        EXPECT_EQ(static_cast<int64_t>(session.status()), -2147221246);
    }
    // The stand-in without logon has a record of its own; this one saw nothing.
    EXPECT_EQ(state_->initializeCalls, 0);
    EXPECT_EQ(state_->uninitializeCalls, 0);
}

TEST_F(MapiSessionTest, MissingLibraryIsNoSupport) {
    MapiSession session(params({}), "no_such_mapi_library.dll");
    EXPECT_EQ(session.status(), MAPI_E_NO_SUPPORT);
    EXPECT_EQ(session.logonSession(), nullptr);
    LPVOID buffer = reinterpret_cast<LPVOID>(1);
    EXPECT_EQ(session.allocator()->allocateBuffer(8, &buffer), MAPI_E_NO_SUPPORT);
    EXPECT_EQ(buffer, nullptr);
}

TEST_F(MapiSessionTest, TwoSessionsInARowEachLogOnAndOff) {
    { MapiSession first(params({})); }
    { MapiSession second(params({})); }
    EXPECT_EQ(state_->logonCalls, 2);
    EXPECT_EQ(state_->logoffCalls, 2);
    EXPECT_EQ(state_->uninitializeCalls, 2);
}

TEST_F(MapiSessionTest, AllocatorGoesThroughTheLibrary) {
    MapiSession session(params({}));
    LPVOID buffer = nullptr;
    ASSERT_EQ(session.allocator()->allocateBuffer(16, &buffer), S_OK);
    EXPECT_NE(buffer, nullptr);
    EXPECT_EQ(session.allocator()->freeBuffer(buffer), 0u);
    EXPECT_EQ(state_->allocateCalls, 1);
    EXPECT_EQ(state_->freeCalls, 1);
}

TEST_F(MapiSessionTest, UnknownCommandsAreNotSupportedAndLeaveTheStatus) {
    MapiSession session(params({}));
    for (const char* name : {"sendmail", "SendMail ", "", "Bogus"}) {
        ParamMap result = session.dispatch(KsString(name));
        ASSERT_EQ(result.size(), 1u) << name;
        KsString value = result.begin()->second;
        EXPECT_STREQ(KsString(result.begin()->first).utf8View(), "error");
        EXPECT_STREQ(value.utf8View(), "Not Supported");
    }
    EXPECT_EQ(session.status(), 0);
}

TEST_F(MapiSessionTest, ReadNumberKeepsTheDefaultUnlessTheValueStartsWithANumber) {
    MapiSession session(params({{"a", "42xyz"}, {"b", "x42"}, {"c", "-7"}}));
    int32_t a = 5, b = 5, c = 5, missing = 5;
    session.readNumber("a", "%d", &a);
    session.readNumber("b", "%d", &b);
    session.readNumber("c", "%d", &c);
    session.readNumber("missing", "%d", &missing);
    EXPECT_EQ(a, 42);
    EXPECT_EQ(b, 5);
    EXPECT_EQ(c, -7);
    EXPECT_EQ(missing, 5);
    EXPECT_EQ(session.params().count(KsString("missing")), 0u) << "lookups do not insert";
}

// Records what it frees; allocates nothing.
class RecordingAllocator : public WabOrMapiAllocator {
  public:
    SCODE allocateBuffer(ULONG, LPVOID* out) override {
        *out = nullptr;
        return MAPI_E_NO_SUPPORT;
    }
    ULONG freeBuffer(LPVOID buffer) override {
        freed.push_back(buffer);
        return 0;
    }
    std::vector<LPVOID> freed;
};

TEST(FreeAddressList, FreesEachValueArrayThenTheList) {
    alignas(ADRLIST) unsigned char storage[CbNewADRLIST(3)] = {};
    auto* list = reinterpret_cast<LPADRLIST>(storage);
    SPropValue first[1] = {};
    SPropValue third[2] = {};
    list->cEntries = 3;
    ADRENTRY* entries = list->aEntries;  // declared with one element, allocated with three
    entries[0].rgPropVals = first;
    entries[1].rgPropVals = nullptr;
    entries[2].rgPropVals = third;
    RecordingAllocator allocator;
    MapiSession::freeAddressList(&allocator, list);
    ASSERT_EQ(allocator.freed.size(), 3u);
    EXPECT_EQ(allocator.freed[0], first);
    EXPECT_EQ(allocator.freed[1], third);
    EXPECT_EQ(allocator.freed[2], list);
}

TEST(FreeAddressList, NullListFreesNothing) {
    RecordingAllocator allocator;
    MapiSession::freeAddressList(&allocator, static_cast<LPADRLIST>(nullptr));
    MapiSession::freeAddressList(&allocator, static_cast<LPSRowSet>(nullptr));
    EXPECT_TRUE(allocator.freed.empty());
}

}  // namespace
