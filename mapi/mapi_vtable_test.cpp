// SPDX-License-Identifier: MIT
// The interfaces' vtable order against the published order.
//
// Each fake below implements every method of an interface and records the slot
// that MAPI's documentation gives the method (IUnknown's three first, then the
// base interfaces' methods, then the interface's own, each in documented
// order). The tests call slot N the way a C client of MAPI does, by taking the
// N-th pointer of the object's vtable and passing the object as the first
// argument; the method that answers must be the one documented at slot N.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include "mapi/mapi.h"

namespace {

// Calls vtable slot `slot` of `object` with `args`, as the function the
// documentation puts there: R (I* This, Args...).
template <class R, class I, class... Args>
R callSlot(I* object, std::size_t slot, Args... args) {
    using Method = R(STDMETHODCALLTYPE*)(I*, Args...);
    void* const* vtable;
    std::memcpy(&vtable, static_cast<const void*>(object), sizeof vtable);
    Method method;
    std::memcpy(&method, &vtable[slot], sizeof method);
    return method(object, args...);
}

struct Calls {
    int slot = -1;
    ULONG_PTR arg = 0;
};

template <class Base>
struct FakeUnknown : Base {
    Calls calls;
    HRESULT note(int slot, ULONG_PTR arg = 0) {
        calls.slot = slot;
        calls.arg = arg;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return note(0); }
    ULONG STDMETHODCALLTYPE AddRef() override { return note(1), 2; }
    ULONG STDMETHODCALLTYPE Release() override { return note(2), 1; }
};

template <class Base>
struct FakeProp : FakeUnknown<Base> {
    HRESULT STDMETHODCALLTYPE GetLastError(HRESULT, ULONG, LPMAPIERROR*) override {
        return this->note(3);
    }
    HRESULT STDMETHODCALLTYPE SaveChanges(ULONG f) override { return this->note(4, f); }
    HRESULT STDMETHODCALLTYPE GetProps(LPSPropTagArray, ULONG f, ULONG*, LPSPropValue*) override {
        return this->note(5, f);
    }
    HRESULT STDMETHODCALLTYPE GetPropList(ULONG, LPSPropTagArray*) override {
        return this->note(6);
    }
    HRESULT STDMETHODCALLTYPE OpenProperty(ULONG tag, LPCIID, ULONG, ULONG, LPUNKNOWN*) override {
        return this->note(7, tag);
    }
    HRESULT STDMETHODCALLTYPE SetProps(ULONG n, LPSPropValue, LPSPropProblemArray*) override {
        return this->note(8, n);
    }
    HRESULT STDMETHODCALLTYPE DeleteProps(LPSPropTagArray, LPSPropProblemArray*) override {
        return this->note(9);
    }
    HRESULT STDMETHODCALLTYPE CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS,
                                     LPCIID, LPVOID, ULONG, LPSPropProblemArray*) override {
        return this->note(10);
    }
    HRESULT STDMETHODCALLTYPE CopyProps(LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID,
                                        LPVOID, ULONG, LPSPropProblemArray*) override {
        return this->note(11);
    }
    HRESULT STDMETHODCALLTYPE GetNamesFromIDs(LPSPropTagArray*, LPGUID, ULONG, ULONG*,
                                              LPMAPINAMEID**) override {
        return this->note(12);
    }
    HRESULT STDMETHODCALLTYPE GetIDsFromNames(ULONG, LPMAPINAMEID*, ULONG,
                                              LPSPropTagArray*) override {
        return this->note(13);
    }
};

template <class Base>
struct FakeContainer : FakeProp<Base> {
    HRESULT STDMETHODCALLTYPE GetContentsTable(ULONG f, LPMAPITABLE*) override {
        return this->note(14, f);
    }
    HRESULT STDMETHODCALLTYPE GetHierarchyTable(ULONG, LPMAPITABLE*) override {
        return this->note(15);
    }
    HRESULT STDMETHODCALLTYPE OpenEntry(ULONG cb, LPENTRYID, LPCIID, ULONG, ULONG*,
                                        LPUNKNOWN*) override {
        return this->note(16, cb);
    }
    HRESULT STDMETHODCALLTYPE SetSearchCriteria(LPSRestriction, LPENTRYLIST, ULONG) override {
        return this->note(17);
    }
    HRESULT STDMETHODCALLTYPE GetSearchCriteria(ULONG, LPSRestriction*, LPENTRYLIST*,
                                                ULONG*) override {
        return this->note(18);
    }
};

struct FakeFolder : FakeContainer<IMAPIFolder> {
    HRESULT STDMETHODCALLTYPE CreateMessage(LPCIID, ULONG f, LPMESSAGE*) override {
        return note(19, f);
    }
    HRESULT STDMETHODCALLTYPE CopyMessages(LPENTRYLIST, LPCIID, LPVOID, ULONG_PTR, LPMAPIPROGRESS,
                                           ULONG) override {
        return note(20);
    }
    HRESULT STDMETHODCALLTYPE DeleteMessages(LPENTRYLIST, ULONG_PTR, LPMAPIPROGRESS,
                                             ULONG) override {
        return note(21);
    }
    HRESULT STDMETHODCALLTYPE CreateFolder(ULONG, LPMAPITSTR, LPMAPITSTR, LPCIID, ULONG,
                                           LPMAPIFOLDER*) override {
        return note(22);
    }
    HRESULT STDMETHODCALLTYPE CopyFolder(ULONG, LPENTRYID, LPCIID, LPVOID, LPMAPITSTR, ULONG_PTR,
                                         LPMAPIPROGRESS, ULONG) override {
        return note(23);
    }
    HRESULT STDMETHODCALLTYPE DeleteFolder(ULONG, LPENTRYID, ULONG_PTR, LPMAPIPROGRESS,
                                           ULONG) override {
        return note(24);
    }
    HRESULT STDMETHODCALLTYPE SetReadFlags(LPENTRYLIST, ULONG_PTR, LPMAPIPROGRESS,
                                           ULONG) override {
        return note(25);
    }
    HRESULT STDMETHODCALLTYPE GetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG*) override {
        return note(26);
    }
    HRESULT STDMETHODCALLTYPE SetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG, ULONG*) override {
        return note(27);
    }
    HRESULT STDMETHODCALLTYPE SaveContentsSort(LPSSortOrderSet, ULONG) override { return note(28); }
    HRESULT STDMETHODCALLTYPE EmptyFolder(ULONG_PTR, LPMAPIPROGRESS, ULONG) override {
        return note(29);
    }
};

template <class Base>
struct FakeEntries : FakeContainer<Base> {
    HRESULT STDMETHODCALLTYPE CreateEntry(ULONG, LPENTRYID, ULONG, LPMAPIPROP*) override {
        return this->note(19);
    }
    HRESULT STDMETHODCALLTYPE CopyEntries(LPENTRYLIST, ULONG_PTR, LPMAPIPROGRESS, ULONG) override {
        return this->note(20);
    }
    HRESULT STDMETHODCALLTYPE DeleteEntries(LPENTRYLIST, ULONG) override { return this->note(21); }
    HRESULT STDMETHODCALLTYPE ResolveNames(LPSPropTagArray, ULONG, LPADRLIST,
                                           LPFlagList) override {
        return this->note(22);
    }
};

struct FakeStore : FakeProp<IMsgStore> {
    HRESULT STDMETHODCALLTYPE Advise(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK,
                                     ULONG_PTR*) override {
        return note(14);
    }
    HRESULT STDMETHODCALLTYPE Unadvise(ULONG_PTR c) override { return note(15, c); }
    HRESULT STDMETHODCALLTYPE CompareEntryIDs(ULONG, LPENTRYID, ULONG, LPENTRYID, ULONG,
                                              ULONG*) override {
        return note(16);
    }
    HRESULT STDMETHODCALLTYPE OpenEntry(ULONG cb, LPENTRYID, LPCIID, ULONG, ULONG*,
                                        LPUNKNOWN*) override {
        return note(17, cb);
    }
    HRESULT STDMETHODCALLTYPE SetReceiveFolder(LPMAPITSTR, ULONG, ULONG, LPENTRYID) override {
        return note(18);
    }
    HRESULT STDMETHODCALLTYPE GetReceiveFolder(LPMAPITSTR, ULONG, ULONG*, LPENTRYID*,
                                               LPMAPITSTR*) override {
        return note(19);
    }
    HRESULT STDMETHODCALLTYPE GetReceiveFolderTable(ULONG, LPMAPITABLE*) override {
        return note(20);
    }
    HRESULT STDMETHODCALLTYPE StoreLogoff(ULONG*) override { return note(21); }
    HRESULT STDMETHODCALLTYPE AbortSubmit(ULONG, LPENTRYID, ULONG) override { return note(22); }
    HRESULT STDMETHODCALLTYPE GetOutgoingQueue(ULONG, LPMAPITABLE*) override { return note(23); }
    HRESULT STDMETHODCALLTYPE SetLockState(LPMESSAGE, ULONG) override { return note(24); }
    HRESULT STDMETHODCALLTYPE FinishedMsg(ULONG, ULONG, LPENTRYID) override { return note(25); }
    HRESULT STDMETHODCALLTYPE NotifyNewMail(LPNOTIFICATION) override { return note(26); }
};

struct FakeMessage : FakeProp<IMessage> {
    HRESULT STDMETHODCALLTYPE GetAttachmentTable(ULONG, LPMAPITABLE*) override { return note(14); }
    HRESULT STDMETHODCALLTYPE OpenAttach(ULONG, LPCIID, ULONG, LPATTACH*) override {
        return note(15);
    }
    HRESULT STDMETHODCALLTYPE CreateAttach(LPCIID, ULONG f, ULONG*, LPATTACH*) override {
        return note(16, f);
    }
    HRESULT STDMETHODCALLTYPE DeleteAttach(ULONG, ULONG_PTR, LPMAPIPROGRESS, ULONG) override {
        return note(17);
    }
    HRESULT STDMETHODCALLTYPE GetRecipientTable(ULONG f, LPMAPITABLE*) override {
        return note(18, f);
    }
    HRESULT STDMETHODCALLTYPE ModifyRecipients(ULONG f, LPADRLIST) override { return note(19, f); }
    HRESULT STDMETHODCALLTYPE SubmitMessage(ULONG f) override { return note(20, f); }
    HRESULT STDMETHODCALLTYPE SetReadFlag(ULONG) override { return note(21); }
};

struct FakeAddrBook : FakeProp<IAddrBook> {
    HRESULT STDMETHODCALLTYPE OpenEntry(ULONG cb, LPENTRYID, LPCIID, ULONG, ULONG*,
                                        LPUNKNOWN*) override {
        return note(14, cb);
    }
    HRESULT STDMETHODCALLTYPE CompareEntryIDs(ULONG, LPENTRYID, ULONG, LPENTRYID, ULONG,
                                              ULONG*) override {
        return note(15);
    }
    HRESULT STDMETHODCALLTYPE Advise(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK,
                                     ULONG_PTR*) override {
        return note(16);
    }
    HRESULT STDMETHODCALLTYPE Unadvise(ULONG_PTR c) override { return note(17, c); }
    HRESULT STDMETHODCALLTYPE CreateOneOff(LPMAPITSTR, LPMAPITSTR, LPMAPITSTR, ULONG, ULONG*,
                                           LPENTRYID*) override {
        return note(18);
    }
    HRESULT STDMETHODCALLTYPE NewEntry(ULONG_PTR, ULONG, ULONG, LPENTRYID, ULONG, LPENTRYID,
                                       ULONG*, LPENTRYID*) override {
        return note(19);
    }
    HRESULT STDMETHODCALLTYPE ResolveName(ULONG_PTR ui, ULONG, LPMAPITSTR, LPADRLIST) override {
        return note(20, ui);
    }
    HRESULT STDMETHODCALLTYPE Address(ULONG_PTR* ui, LPADRPARM, LPADRLIST*) override {
        return note(21, *ui);
    }
    HRESULT STDMETHODCALLTYPE Details(ULONG_PTR*, LPFNDISMISS, LPVOID, ULONG, LPENTRYID,
                                      LPFNBUTTON, LPVOID, LPMAPITSTR, ULONG) override {
        return note(22);
    }
    HRESULT STDMETHODCALLTYPE RecipOptions(ULONG_PTR, ULONG, LPADRENTRY) override {
        return note(23);
    }
    HRESULT STDMETHODCALLTYPE QueryDefaultRecipOpt(LPSTR, ULONG, ULONG*, LPSPropValue*) override {
        return note(24);
    }
    HRESULT STDMETHODCALLTYPE GetPAB(ULONG*, LPENTRYID*) override { return note(25); }
    HRESULT STDMETHODCALLTYPE SetPAB(ULONG, LPENTRYID) override { return note(26); }
    HRESULT STDMETHODCALLTYPE GetDefaultDir(ULONG*, LPENTRYID*) override { return note(27); }
    HRESULT STDMETHODCALLTYPE SetDefaultDir(ULONG, LPENTRYID) override { return note(28); }
    HRESULT STDMETHODCALLTYPE GetSearchPath(ULONG, LPSRowSet*) override { return note(29); }
    HRESULT STDMETHODCALLTYPE SetSearchPath(ULONG, LPSRowSet) override { return note(30); }
    HRESULT STDMETHODCALLTYPE PrepareRecips(ULONG, LPSPropTagArray, LPADRLIST) override {
        return note(31);
    }
};

struct FakeTable : FakeUnknown<IMAPITable> {
    HRESULT STDMETHODCALLTYPE GetLastError(HRESULT, ULONG, LPMAPIERROR*) override {
        return note(3);
    }
    HRESULT STDMETHODCALLTYPE Advise(ULONG, LPMAPIADVISESINK, ULONG_PTR*) override {
        return note(4);
    }
    HRESULT STDMETHODCALLTYPE Unadvise(ULONG_PTR c) override { return note(5, c); }
    HRESULT STDMETHODCALLTYPE GetStatus(ULONG*, ULONG*) override { return note(6); }
    HRESULT STDMETHODCALLTYPE SetColumns(LPSPropTagArray, ULONG f) override { return note(7, f); }
    HRESULT STDMETHODCALLTYPE QueryColumns(ULONG, LPSPropTagArray*) override { return note(8); }
    HRESULT STDMETHODCALLTYPE GetRowCount(ULONG, ULONG*) override { return note(9); }
    HRESULT STDMETHODCALLTYPE SeekRow(BOOKMARK bk, LONG, LONG*) override { return note(10, bk); }
    HRESULT STDMETHODCALLTYPE SeekRowApprox(ULONG, ULONG) override { return note(11); }
    HRESULT STDMETHODCALLTYPE QueryPosition(ULONG*, ULONG*, ULONG*) override { return note(12); }
    HRESULT STDMETHODCALLTYPE FindRow(LPSRestriction, BOOKMARK bk, ULONG) override {
        return note(13, bk);
    }
    HRESULT STDMETHODCALLTYPE Restrict(LPSRestriction, ULONG f) override { return note(14, f); }
    HRESULT STDMETHODCALLTYPE CreateBookmark(BOOKMARK*) override { return note(15); }
    HRESULT STDMETHODCALLTYPE FreeBookmark(BOOKMARK bk) override { return note(16, bk); }
    HRESULT STDMETHODCALLTYPE SortTable(LPSSortOrderSet, ULONG) override { return note(17); }
    HRESULT STDMETHODCALLTYPE QuerySortOrder(LPSSortOrderSet*) override { return note(18); }
    HRESULT STDMETHODCALLTYPE QueryRows(LONG n, ULONG, LPSRowSet*) override {
        return note(19, static_cast<ULONG_PTR>(n));
    }
    HRESULT STDMETHODCALLTYPE Abort() override { return note(20); }
    HRESULT STDMETHODCALLTYPE ExpandRow(ULONG, LPBYTE, ULONG, ULONG, LPSRowSet*,
                                        ULONG*) override {
        return note(21);
    }
    HRESULT STDMETHODCALLTYPE CollapseRow(ULONG, LPBYTE, ULONG, ULONG*) override {
        return note(22);
    }
    HRESULT STDMETHODCALLTYPE WaitForCompletion(ULONG, ULONG, ULONG*) override { return note(23); }
    HRESULT STDMETHODCALLTYPE GetCollapseState(ULONG, ULONG, LPBYTE, ULONG*, LPBYTE*) override {
        return note(24);
    }
    HRESULT STDMETHODCALLTYPE SetCollapseState(ULONG, ULONG, LPBYTE, BOOKMARK*) override {
        return note(25);
    }
};

struct FakeSession : FakeUnknown<IMAPISession> {
    HRESULT STDMETHODCALLTYPE GetLastError(HRESULT, ULONG, LPMAPIERROR*) override {
        return note(3);
    }
    HRESULT STDMETHODCALLTYPE GetMsgStoresTable(ULONG f, LPMAPITABLE*) override {
        return note(4, f);
    }
    HRESULT STDMETHODCALLTYPE OpenMsgStore(ULONG_PTR ui, ULONG, LPENTRYID, LPCIID, ULONG,
                                           LPMDB*) override {
        return note(5, ui);
    }
    HRESULT STDMETHODCALLTYPE OpenAddressBook(ULONG_PTR ui, LPCIID, ULONG, LPADRBOOK*) override {
        return note(6, ui);
    }
    HRESULT STDMETHODCALLTYPE OpenProfileSection(LPMAPIUID, LPCIID, ULONG, LPPROFSECT*) override {
        return note(7);
    }
    HRESULT STDMETHODCALLTYPE GetStatusTable(ULONG, LPMAPITABLE*) override { return note(8); }
    HRESULT STDMETHODCALLTYPE OpenEntry(ULONG, LPENTRYID, LPCIID, ULONG, ULONG*,
                                        LPUNKNOWN*) override {
        return note(9);
    }
    HRESULT STDMETHODCALLTYPE CompareEntryIDs(ULONG, LPENTRYID, ULONG, LPENTRYID, ULONG,
                                              ULONG*) override {
        return note(10);
    }
    HRESULT STDMETHODCALLTYPE Advise(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK,
                                     ULONG_PTR*) override {
        return note(11);
    }
    HRESULT STDMETHODCALLTYPE Unadvise(ULONG_PTR c) override { return note(12, c); }
    HRESULT STDMETHODCALLTYPE MessageOptions(ULONG_PTR, ULONG, LPMAPITSTR, LPMESSAGE) override {
        return note(13);
    }
    HRESULT STDMETHODCALLTYPE QueryDefaultMessageOpt(LPMAPITSTR, ULONG, ULONG*,
                                                     LPSPropValue*) override {
        return note(14);
    }
    HRESULT STDMETHODCALLTYPE EnumAdrTypes(ULONG, ULONG*, LPMAPITSTR**) override {
        return note(15);
    }
    HRESULT STDMETHODCALLTYPE QueryIdentity(ULONG*, LPENTRYID*) override { return note(16); }
    HRESULT STDMETHODCALLTYPE Logoff(ULONG_PTR ui, ULONG, ULONG) override { return note(17, ui); }
    HRESULT STDMETHODCALLTYPE SetDefaultStore(ULONG, ULONG, LPENTRYID) override {
        return note(18);
    }
    HRESULT STDMETHODCALLTYPE AdminServices(ULONG, LPSERVICEADMIN*) override { return note(19); }
    HRESULT STDMETHODCALLTYPE ShowForm(ULONG_PTR ui, LPMDB, LPMAPIFOLDER, LPCIID, ULONG,
                                       LPMESSAGE, ULONG, ULONG, ULONG, ULONG, LPSTR) override {
        return note(20, ui);
    }
    HRESULT STDMETHODCALLTYPE PrepareForm(LPCIID, LPMESSAGE, ULONG*) override { return note(21); }
};

struct FakeProfAdmin : FakeUnknown<IProfAdmin> {
    HRESULT STDMETHODCALLTYPE GetLastError(HRESULT, ULONG, LPMAPIERROR*) override {
        return note(3);
    }
    HRESULT STDMETHODCALLTYPE GetProfileTable(ULONG f, LPMAPITABLE*) override {
        return note(4, f);
    }
    HRESULT STDMETHODCALLTYPE CreateProfile(LPMAPITSTR, LPMAPITSTR, ULONG_PTR, ULONG) override {
        return note(5);
    }
    HRESULT STDMETHODCALLTYPE DeleteProfile(LPMAPITSTR, ULONG) override { return note(6); }
    HRESULT STDMETHODCALLTYPE ChangeProfilePassword(LPMAPITSTR, LPMAPITSTR, LPMAPITSTR,
                                                    ULONG) override {
        return note(7);
    }
    HRESULT STDMETHODCALLTYPE CopyProfile(LPMAPITSTR, LPMAPITSTR, LPMAPITSTR, ULONG_PTR,
                                          ULONG) override {
        return note(8);
    }
    HRESULT STDMETHODCALLTYPE RenameProfile(LPMAPITSTR, LPMAPITSTR, LPMAPITSTR, ULONG_PTR,
                                            ULONG) override {
        return note(9);
    }
    HRESULT STDMETHODCALLTYPE SetDefaultProfile(LPMAPITSTR, ULONG) override { return note(10); }
    HRESULT STDMETHODCALLTYPE AdminServices(LPMAPITSTR, LPMAPITSTR, ULONG_PTR, ULONG,
                                            LPSERVICEADMIN*) override {
        return note(11);
    }
};

struct FakeStream : FakeUnknown<IStream> {
    HRESULT STDMETHODCALLTYPE Read(void*, ULONG cb, ULONG*) override { return note(3, cb); }
    HRESULT STDMETHODCALLTYPE Write(const void*, ULONG cb, ULONG*) override { return note(4, cb); }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER to, DWORD, ULARGE_INTEGER*) override {
        return note(5, static_cast<ULONG_PTR>(to.QuadPart));
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return note(6); }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*,
                                     ULARGE_INTEGER*) override {
        return note(7);
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD f) override { return note(8, f); }
    HRESULT STDMETHODCALLTYPE Revert() override { return note(9); }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return note(10);
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return note(11);
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG*, DWORD) override { return note(12); }
    HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return note(13); }
};

struct FakeProgress : FakeUnknown<IMAPIProgress> {
    HRESULT STDMETHODCALLTYPE Progress(ULONG v, ULONG, ULONG) override { return note(3, v); }
    HRESULT STDMETHODCALLTYPE GetFlags(ULONG*) override { return note(4); }
    HRESULT STDMETHODCALLTYPE GetMax(ULONG*) override { return note(5); }
    HRESULT STDMETHODCALLTYPE GetMin(ULONG*) override { return note(6); }
    HRESULT STDMETHODCALLTYPE SetLimits(ULONG*, ULONG*, ULONG*) override { return note(7); }
};

struct FakeSink : FakeUnknown<IMAPIAdviseSink> {
    ULONG STDMETHODCALLTYPE OnNotify(ULONG n, LPNOTIFICATION) override { return note(3, n), 0; }
};

// Null arguments of the documented parameter types.
template <class T>
T* none() {
    return nullptr;
}

// Slots 0 to 2 of every interface.
template <class I, class Fake>
void expectUnknownSlots(Fake& fake) {
    I* object = &fake;
    EXPECT_EQ(callSlot<HRESULT>(object, 0, &IID_IUnknown, none<void*>()), S_OK);
    EXPECT_EQ(fake.calls.slot, 0);
    EXPECT_EQ(callSlot<ULONG>(object, 1), 2u);
    EXPECT_EQ(fake.calls.slot, 1);
    EXPECT_EQ(callSlot<ULONG>(object, 2), 1u);
    EXPECT_EQ(fake.calls.slot, 2);
}

// Slots 3 to 13, IMAPIProp's, of any property object.
template <class I, class Fake>
void expectPropSlots(Fake& fake) {
    I* o = &fake;
    Calls& c = fake.calls;
    callSlot<HRESULT>(o, 3, HRESULT{0}, ULONG{0}, none<LPMAPIERROR>());
    EXPECT_EQ(c.slot, 3);
    callSlot<HRESULT>(o, 4, ULONG{KEEP_OPEN_READWRITE});
    EXPECT_EQ(c.slot, 4);
    EXPECT_EQ(c.arg, KEEP_OPEN_READWRITE);
    callSlot<HRESULT>(o, 5, none<SPropTagArray>(), ULONG{MAPI_UNICODE}, none<ULONG>(),
                      none<LPSPropValue>());
    EXPECT_EQ(c.slot, 5);
    EXPECT_EQ(c.arg, MAPI_UNICODE);
    callSlot<HRESULT>(o, 6, ULONG{0}, none<LPSPropTagArray>());
    EXPECT_EQ(c.slot, 6);
    callSlot<HRESULT>(o, 7, ULONG{PR_ATTACH_DATA_BIN}, &IID_IStream, ULONG{STGM_WRITE},
                      ULONG{MAPI_CREATE | MAPI_MODIFY}, none<LPUNKNOWN>());
    EXPECT_EQ(c.slot, 7);
    EXPECT_EQ(c.arg, PR_ATTACH_DATA_BIN);
    callSlot<HRESULT>(o, 8, ULONG{3}, none<SPropValue>(), none<LPSPropProblemArray>());
    EXPECT_EQ(c.slot, 8);
    EXPECT_EQ(c.arg, 3u);
    callSlot<HRESULT>(o, 9, none<SPropTagArray>(), none<LPSPropProblemArray>());
    EXPECT_EQ(c.slot, 9);
    callSlot<HRESULT>(o, 10, ULONG{0}, none<const IID>(), none<SPropTagArray>(), ULONG_PTR{0},
                      none<IMAPIProgress>(), none<const IID>(), none<void>(), ULONG{0},
                      none<LPSPropProblemArray>());
    EXPECT_EQ(c.slot, 10);
    callSlot<HRESULT>(o, 11, none<SPropTagArray>(), ULONG_PTR{0}, none<IMAPIProgress>(),
                      none<const IID>(), none<void>(), ULONG{0}, none<LPSPropProblemArray>());
    EXPECT_EQ(c.slot, 11);
    callSlot<HRESULT>(o, 12, none<LPSPropTagArray>(), none<GUID>(), ULONG{0}, none<ULONG>(),
                      none<LPMAPINAMEID*>());
    EXPECT_EQ(c.slot, 12);
    callSlot<HRESULT>(o, 13, ULONG{0}, none<LPMAPINAMEID>(), ULONG{0}, none<LPSPropTagArray>());
    EXPECT_EQ(c.slot, 13);
}

// Slots 14 to 18, IMAPIContainer's.
template <class I, class Fake>
void expectContainerSlots(Fake& fake) {
    I* o = &fake;
    Calls& c = fake.calls;
    callSlot<HRESULT>(o, 14, ULONG{MAPI_UNICODE}, none<LPMAPITABLE>());
    EXPECT_EQ(c.slot, 14);
    EXPECT_EQ(c.arg, MAPI_UNICODE);
    callSlot<HRESULT>(o, 15, ULONG{0}, none<LPMAPITABLE>());
    EXPECT_EQ(c.slot, 15);
    callSlot<HRESULT>(o, 16, ULONG{24}, none<ENTRYID>(), none<const IID>(), ULONG{0},
                      none<ULONG>(), none<LPUNKNOWN>());
    EXPECT_EQ(c.slot, 16);
    EXPECT_EQ(c.arg, 24u);
    callSlot<HRESULT>(o, 17, none<SRestriction>(), none<ENTRYLIST>(), ULONG{0});
    EXPECT_EQ(c.slot, 17);
    callSlot<HRESULT>(o, 18, ULONG{0}, none<LPSRestriction>(), none<LPENTRYLIST>(),
                      none<ULONG>());
    EXPECT_EQ(c.slot, 18);
}

TEST(MapiVtable, TableFollowsThePublishedOrder) {
    FakeTable fake;
    expectUnknownSlots<IMAPITable>(fake);
    IMAPITable* t = &fake;
    Calls& c = fake.calls;
    callSlot<HRESULT>(t, 3, HRESULT{0}, ULONG{0}, none<LPMAPIERROR>());
    EXPECT_EQ(c.slot, 3);
    callSlot<HRESULT>(t, 4, ULONG{fnevTableModified}, none<IMAPIAdviseSink>(), none<ULONG_PTR>());
    EXPECT_EQ(c.slot, 4);
    callSlot<HRESULT>(t, 5, ULONG_PTR{0x123456789});
    EXPECT_EQ(c.slot, 5);
    EXPECT_EQ(c.arg, ULONG_PTR{0x123456789});
    callSlot<HRESULT>(t, 6, none<ULONG>(), none<ULONG>());
    EXPECT_EQ(c.slot, 6);
    callSlot<HRESULT>(t, 7, none<SPropTagArray>(), ULONG{TBL_BATCH});
    EXPECT_EQ(c.slot, 7);
    EXPECT_EQ(c.arg, TBL_BATCH);
    callSlot<HRESULT>(t, 8, ULONG{0}, none<LPSPropTagArray>());
    EXPECT_EQ(c.slot, 8);
    callSlot<HRESULT>(t, 9, ULONG{0}, none<ULONG>());
    EXPECT_EQ(c.slot, 9);
    callSlot<HRESULT>(t, 10, BOOKMARK{BOOKMARK_END}, LONG{-1}, none<LONG>());
    EXPECT_EQ(c.slot, 10);
    EXPECT_EQ(c.arg, BOOKMARK_END);
    callSlot<HRESULT>(t, 11, ULONG{1}, ULONG{2});
    EXPECT_EQ(c.slot, 11);
    callSlot<HRESULT>(t, 12, none<ULONG>(), none<ULONG>(), none<ULONG>());
    EXPECT_EQ(c.slot, 12);
    callSlot<HRESULT>(t, 13, none<SRestriction>(), BOOKMARK{BOOKMARK_CURRENT}, ULONG{0});
    EXPECT_EQ(c.slot, 13);
    EXPECT_EQ(c.arg, BOOKMARK_CURRENT);
    callSlot<HRESULT>(t, 14, none<SRestriction>(), ULONG{TBL_BATCH});
    EXPECT_EQ(c.slot, 14);
    EXPECT_EQ(c.arg, TBL_BATCH);
    callSlot<HRESULT>(t, 15, none<BOOKMARK>());
    EXPECT_EQ(c.slot, 15);
    callSlot<HRESULT>(t, 16, BOOKMARK{0xABCDEF0123});
    EXPECT_EQ(c.slot, 16);
    EXPECT_EQ(c.arg, BOOKMARK{0xABCDEF0123});
    callSlot<HRESULT>(t, 17, none<SSortOrderSet>(), ULONG{0});
    EXPECT_EQ(c.slot, 17);
    callSlot<HRESULT>(t, 18, none<LPSSortOrderSet>());
    EXPECT_EQ(c.slot, 18);
    callSlot<HRESULT>(t, 19, LONG{100}, ULONG{0}, none<LPSRowSet>());
    EXPECT_EQ(c.slot, 19);
    EXPECT_EQ(c.arg, 100u);
    callSlot<HRESULT>(t, 20);
    EXPECT_EQ(c.slot, 20);
    callSlot<HRESULT>(t, 21, ULONG{0}, none<BYTE>(), ULONG{0}, ULONG{0}, none<LPSRowSet>(),
                      none<ULONG>());
    EXPECT_EQ(c.slot, 21);
    callSlot<HRESULT>(t, 22, ULONG{0}, none<BYTE>(), ULONG{0}, none<ULONG>());
    EXPECT_EQ(c.slot, 22);
    callSlot<HRESULT>(t, 23, ULONG{0}, ULONG{0}, none<ULONG>());
    EXPECT_EQ(c.slot, 23);
    callSlot<HRESULT>(t, 24, ULONG{0}, ULONG{0}, none<BYTE>(), none<ULONG>(), none<LPBYTE>());
    EXPECT_EQ(c.slot, 24);
    callSlot<HRESULT>(t, 25, ULONG{0}, ULONG{0}, none<BYTE>(), none<BOOKMARK>());
    EXPECT_EQ(c.slot, 25);

    // A C++ call through the interface reaches the same methods.
    EXPECT_EQ(t->QueryRows(1, 0, nullptr), S_OK);
    EXPECT_EQ(c.slot, 19);
    EXPECT_EQ(c.arg, 1u);
    t->FindRow(nullptr, BOOKMARK_BEGINNING, 0);
    EXPECT_EQ(c.slot, 13);
}

TEST(MapiVtable, SessionFollowsThePublishedOrder) {
    FakeSession fake;
    expectUnknownSlots<IMAPISession>(fake);
    IMAPISession* s = &fake;
    Calls& c = fake.calls;
    const ULONG_PTR parent = 0x1020304050;
    callSlot<HRESULT>(s, 3, HRESULT{0}, ULONG{0}, none<LPMAPIERROR>());
    EXPECT_EQ(c.slot, 3);
    callSlot<HRESULT>(s, 4, ULONG{MAPI_UNICODE}, none<LPMAPITABLE>());
    EXPECT_EQ(c.slot, 4);
    EXPECT_EQ(c.arg, MAPI_UNICODE);
    callSlot<HRESULT>(s, 5, parent, ULONG{0}, none<ENTRYID>(), none<const IID>(),
                      ULONG{MDB_WRITE}, none<LPMDB>());
    EXPECT_EQ(c.slot, 5);
    EXPECT_EQ(c.arg, parent);
    callSlot<HRESULT>(s, 6, parent, none<const IID>(), ULONG{AB_NO_DIALOG}, none<LPADRBOOK>());
    EXPECT_EQ(c.slot, 6);
    EXPECT_EQ(c.arg, parent);
    callSlot<HRESULT>(s, 7, none<MAPIUID>(), none<const IID>(), ULONG{0}, none<LPPROFSECT>());
    EXPECT_EQ(c.slot, 7);
    callSlot<HRESULT>(s, 8, ULONG{0}, none<LPMAPITABLE>());
    EXPECT_EQ(c.slot, 8);
    callSlot<HRESULT>(s, 9, ULONG{0}, none<ENTRYID>(), none<const IID>(), ULONG{0},
                      none<ULONG>(), none<LPUNKNOWN>());
    EXPECT_EQ(c.slot, 9);
    callSlot<HRESULT>(s, 10, ULONG{0}, none<ENTRYID>(), ULONG{0}, none<ENTRYID>(), ULONG{0},
                      none<ULONG>());
    EXPECT_EQ(c.slot, 10);
    callSlot<HRESULT>(s, 11, ULONG{0}, none<ENTRYID>(), ULONG{0}, none<IMAPIAdviseSink>(),
                      none<ULONG_PTR>());
    EXPECT_EQ(c.slot, 11);
    callSlot<HRESULT>(s, 12, ULONG_PTR{77});
    EXPECT_EQ(c.slot, 12);
    EXPECT_EQ(c.arg, 77u);
    callSlot<HRESULT>(s, 13, ULONG_PTR{0}, ULONG{0}, none<CHAR>(), none<IMessage>());
    EXPECT_EQ(c.slot, 13);
    callSlot<HRESULT>(s, 14, none<CHAR>(), ULONG{0}, none<ULONG>(), none<LPSPropValue>());
    EXPECT_EQ(c.slot, 14);
    callSlot<HRESULT>(s, 15, ULONG{0}, none<ULONG>(), none<LPMAPITSTR*>());
    EXPECT_EQ(c.slot, 15);
    callSlot<HRESULT>(s, 16, none<ULONG>(), none<LPENTRYID>());
    EXPECT_EQ(c.slot, 16);
    callSlot<HRESULT>(s, 17, parent, ULONG{0}, ULONG{0});
    EXPECT_EQ(c.slot, 17);
    EXPECT_EQ(c.arg, parent);
    callSlot<HRESULT>(s, 18, ULONG{0}, ULONG{0}, none<ENTRYID>());
    EXPECT_EQ(c.slot, 18);
    callSlot<HRESULT>(s, 19, ULONG{0}, none<LPSERVICEADMIN>());
    EXPECT_EQ(c.slot, 19);
    char messageClass[] = "IPM.Note";
    callSlot<HRESULT>(s, 20, parent, none<IMsgStore>(), none<IMAPIFolder>(), none<const IID>(),
                      ULONG{7}, none<IMessage>(), ULONG{MAPI_NEW_MESSAGE}, ULONG{0},
                      ULONG{MSGFLAG_UNSENT}, ULONG{MAPI_ACCESS_MODIFY}, &messageClass[0]);
    EXPECT_EQ(c.slot, 20);
    EXPECT_EQ(c.arg, parent);
    callSlot<HRESULT>(s, 21, none<const IID>(), none<IMessage>(), none<ULONG>());
    EXPECT_EQ(c.slot, 21);
}

TEST(MapiVtable, ProfileAdministrationFollowsThePublishedOrder) {
    FakeProfAdmin fake;
    expectUnknownSlots<IProfAdmin>(fake);
    IProfAdmin* p = &fake;
    Calls& c = fake.calls;
    callSlot<HRESULT>(p, 3, HRESULT{0}, ULONG{0}, none<LPMAPIERROR>());
    EXPECT_EQ(c.slot, 3);
    callSlot<HRESULT>(p, 4, ULONG{MAPI_UNICODE}, none<LPMAPITABLE>());
    EXPECT_EQ(c.slot, 4);
    EXPECT_EQ(c.arg, MAPI_UNICODE);
    callSlot<HRESULT>(p, 5, none<CHAR>(), none<CHAR>(), ULONG_PTR{0}, ULONG{0});
    EXPECT_EQ(c.slot, 5);
    callSlot<HRESULT>(p, 6, none<CHAR>(), ULONG{0});
    EXPECT_EQ(c.slot, 6);
    callSlot<HRESULT>(p, 7, none<CHAR>(), none<CHAR>(), none<CHAR>(), ULONG{0});
    EXPECT_EQ(c.slot, 7);
    callSlot<HRESULT>(p, 8, none<CHAR>(), none<CHAR>(), none<CHAR>(), ULONG_PTR{0}, ULONG{0});
    EXPECT_EQ(c.slot, 8);
    callSlot<HRESULT>(p, 9, none<CHAR>(), none<CHAR>(), none<CHAR>(), ULONG_PTR{0}, ULONG{0});
    EXPECT_EQ(c.slot, 9);
    callSlot<HRESULT>(p, 10, none<CHAR>(), ULONG{0});
    EXPECT_EQ(c.slot, 10);
    callSlot<HRESULT>(p, 11, none<CHAR>(), none<CHAR>(), ULONG_PTR{0}, ULONG{0},
                      none<LPSERVICEADMIN>());
    EXPECT_EQ(c.slot, 11);
}

TEST(MapiVtable, StoreFollowsThePublishedOrder) {
    FakeStore fake;
    expectUnknownSlots<IMsgStore>(fake);
    expectPropSlots<IMsgStore>(fake);
    IMsgStore* m = &fake;
    Calls& c = fake.calls;
    callSlot<HRESULT>(m, 14, ULONG{0}, none<ENTRYID>(), ULONG{0}, none<IMAPIAdviseSink>(),
                      none<ULONG_PTR>());
    EXPECT_EQ(c.slot, 14);
    callSlot<HRESULT>(m, 15, ULONG_PTR{9});
    EXPECT_EQ(c.slot, 15);
    EXPECT_EQ(c.arg, 9u);
    callSlot<HRESULT>(m, 16, ULONG{0}, none<ENTRYID>(), ULONG{0}, none<ENTRYID>(), ULONG{0},
                      none<ULONG>());
    EXPECT_EQ(c.slot, 16);
    callSlot<HRESULT>(m, 17, ULONG{46}, none<ENTRYID>(), none<const IID>(),
                      ULONG{MAPI_BEST_ACCESS}, none<ULONG>(), none<LPUNKNOWN>());
    EXPECT_EQ(c.slot, 17);
    EXPECT_EQ(c.arg, 46u);
    callSlot<HRESULT>(m, 18, none<CHAR>(), ULONG{0}, ULONG{0}, none<ENTRYID>());
    EXPECT_EQ(c.slot, 18);
    callSlot<HRESULT>(m, 19, none<CHAR>(), ULONG{0}, none<ULONG>(), none<LPENTRYID>(),
                      none<LPMAPITSTR>());
    EXPECT_EQ(c.slot, 19);
    callSlot<HRESULT>(m, 20, ULONG{0}, none<LPMAPITABLE>());
    EXPECT_EQ(c.slot, 20);
    callSlot<HRESULT>(m, 21, none<ULONG>());
    EXPECT_EQ(c.slot, 21);
    callSlot<HRESULT>(m, 22, ULONG{0}, none<ENTRYID>(), ULONG{0});
    EXPECT_EQ(c.slot, 22);
    callSlot<HRESULT>(m, 23, ULONG{0}, none<LPMAPITABLE>());
    EXPECT_EQ(c.slot, 23);
    callSlot<HRESULT>(m, 24, none<IMessage>(), ULONG{0});
    EXPECT_EQ(c.slot, 24);
    callSlot<HRESULT>(m, 25, ULONG{0}, ULONG{0}, none<ENTRYID>());
    EXPECT_EQ(c.slot, 25);
    callSlot<HRESULT>(m, 26, none<NOTIFICATION>());
    EXPECT_EQ(c.slot, 26);
}

TEST(MapiVtable, FolderFollowsThePublishedOrder) {
    FakeFolder fake;
    expectUnknownSlots<IMAPIFolder>(fake);
    expectPropSlots<IMAPIFolder>(fake);
    expectContainerSlots<IMAPIFolder>(fake);
    IMAPIFolder* f = &fake;
    Calls& c = fake.calls;
    callSlot<HRESULT>(f, 19, none<const IID>(), ULONG{MAPI_ASSOCIATED}, none<LPMESSAGE>());
    EXPECT_EQ(c.slot, 19);
    EXPECT_EQ(c.arg, MAPI_ASSOCIATED);
    callSlot<HRESULT>(f, 20, none<ENTRYLIST>(), none<const IID>(), none<void>(), ULONG_PTR{0},
                      none<IMAPIProgress>(), ULONG{0});
    EXPECT_EQ(c.slot, 20);
    callSlot<HRESULT>(f, 21, none<ENTRYLIST>(), ULONG_PTR{0}, none<IMAPIProgress>(), ULONG{0});
    EXPECT_EQ(c.slot, 21);
    callSlot<HRESULT>(f, 22, ULONG{FOLDER_GENERIC}, none<CHAR>(), none<CHAR>(),
                      none<const IID>(), ULONG{0}, none<LPMAPIFOLDER>());
    EXPECT_EQ(c.slot, 22);
    callSlot<HRESULT>(f, 23, ULONG{0}, none<ENTRYID>(), none<const IID>(), none<void>(),
                      none<CHAR>(), ULONG_PTR{0}, none<IMAPIProgress>(), ULONG{0});
    EXPECT_EQ(c.slot, 23);
    callSlot<HRESULT>(f, 24, ULONG{0}, none<ENTRYID>(), ULONG_PTR{0}, none<IMAPIProgress>(),
                      ULONG{0});
    EXPECT_EQ(c.slot, 24);
    callSlot<HRESULT>(f, 25, none<ENTRYLIST>(), ULONG_PTR{0}, none<IMAPIProgress>(), ULONG{0});
    EXPECT_EQ(c.slot, 25);
    callSlot<HRESULT>(f, 26, ULONG{0}, none<ENTRYID>(), ULONG{0}, none<ULONG>());
    EXPECT_EQ(c.slot, 26);
    callSlot<HRESULT>(f, 27, ULONG{0}, none<ENTRYID>(), ULONG{0}, ULONG{0}, none<ULONG>());
    EXPECT_EQ(c.slot, 27);
    callSlot<HRESULT>(f, 28, none<SSortOrderSet>(), ULONG{0});
    EXPECT_EQ(c.slot, 28);
    callSlot<HRESULT>(f, 29, ULONG_PTR{0}, none<IMAPIProgress>(), ULONG{0});
    EXPECT_EQ(c.slot, 29);
}

TEST(MapiVtable, MessageAndAttachmentFollowThePublishedOrder) {
    FakeMessage fake;
    expectUnknownSlots<IMessage>(fake);
    expectPropSlots<IMessage>(fake);
    IMessage* m = &fake;
    Calls& c = fake.calls;
    callSlot<HRESULT>(m, 14, ULONG{0}, none<LPMAPITABLE>());
    EXPECT_EQ(c.slot, 14);
    callSlot<HRESULT>(m, 15, ULONG{0}, none<const IID>(), ULONG{0}, none<LPATTACH>());
    EXPECT_EQ(c.slot, 15);
    callSlot<HRESULT>(m, 16, none<const IID>(), ULONG{MAPI_DEFERRED_ERRORS}, none<ULONG>(),
                      none<LPATTACH>());
    EXPECT_EQ(c.slot, 16);
    EXPECT_EQ(c.arg, MAPI_DEFERRED_ERRORS);
    callSlot<HRESULT>(m, 17, ULONG{0}, ULONG_PTR{0}, none<IMAPIProgress>(), ULONG{0});
    EXPECT_EQ(c.slot, 17);
    callSlot<HRESULT>(m, 18, ULONG{MAPI_UNICODE}, none<LPMAPITABLE>());
    EXPECT_EQ(c.slot, 18);
    EXPECT_EQ(c.arg, MAPI_UNICODE);
    callSlot<HRESULT>(m, 19, ULONG{MODRECIP_ADD}, none<ADRLIST>());
    EXPECT_EQ(c.slot, 19);
    EXPECT_EQ(c.arg, MODRECIP_ADD);
    callSlot<HRESULT>(m, 20, ULONG{FORCE_SUBMIT});
    EXPECT_EQ(c.slot, 20);
    EXPECT_EQ(c.arg, FORCE_SUBMIT);
    callSlot<HRESULT>(m, 21, ULONG{0});
    EXPECT_EQ(c.slot, 21);

    FakeProp<IAttach> attach;
    expectUnknownSlots<IAttach>(attach);
    expectPropSlots<IAttach>(attach);
}

TEST(MapiVtable, AddressBookFollowsThePublishedOrder) {
    FakeAddrBook fake;
    expectUnknownSlots<IAddrBook>(fake);
    expectPropSlots<IAddrBook>(fake);
    IAddrBook* a = &fake;
    Calls& c = fake.calls;
    const ULONG_PTR parent = 0x7788990011;
    callSlot<HRESULT>(a, 14, ULONG{70}, none<ENTRYID>(), none<const IID>(), ULONG{0},
                      none<ULONG>(), none<LPUNKNOWN>());
    EXPECT_EQ(c.slot, 14);
    EXPECT_EQ(c.arg, 70u);
    callSlot<HRESULT>(a, 15, ULONG{0}, none<ENTRYID>(), ULONG{0}, none<ENTRYID>(), ULONG{0},
                      none<ULONG>());
    EXPECT_EQ(c.slot, 15);
    callSlot<HRESULT>(a, 16, ULONG{0}, none<ENTRYID>(), ULONG{0}, none<IMAPIAdviseSink>(),
                      none<ULONG_PTR>());
    EXPECT_EQ(c.slot, 16);
    callSlot<HRESULT>(a, 17, ULONG_PTR{5});
    EXPECT_EQ(c.slot, 17);
    callSlot<HRESULT>(a, 18, none<CHAR>(), none<CHAR>(), none<CHAR>(), ULONG{0}, none<ULONG>(),
                      none<LPENTRYID>());
    EXPECT_EQ(c.slot, 18);
    callSlot<HRESULT>(a, 19, ULONG_PTR{0}, ULONG{0}, ULONG{0}, none<ENTRYID>(), ULONG{0},
                      none<ENTRYID>(), none<ULONG>(), none<LPENTRYID>());
    EXPECT_EQ(c.slot, 19);
    callSlot<HRESULT>(a, 20, parent, ULONG{MAPI_DIALOG}, none<CHAR>(), none<ADRLIST>());
    EXPECT_EQ(c.slot, 20);
    EXPECT_EQ(c.arg, parent);
    ULONG_PTR ui = parent + 1;
    callSlot<HRESULT>(a, 21, &ui, none<ADRPARM>(), none<LPADRLIST>());
    EXPECT_EQ(c.slot, 21);
    EXPECT_EQ(c.arg, parent + 1);
    callSlot<HRESULT>(a, 22, &ui, LPFNDISMISS{nullptr}, none<void>(), ULONG{0}, none<ENTRYID>(),
                      LPFNBUTTON{nullptr}, none<void>(), none<CHAR>(), ULONG{0});
    EXPECT_EQ(c.slot, 22);
    callSlot<HRESULT>(a, 23, ULONG_PTR{0}, ULONG{0}, none<ADRENTRY>());
    EXPECT_EQ(c.slot, 23);
    callSlot<HRESULT>(a, 24, none<CHAR>(), ULONG{0}, none<ULONG>(), none<LPSPropValue>());
    EXPECT_EQ(c.slot, 24);
    callSlot<HRESULT>(a, 25, none<ULONG>(), none<LPENTRYID>());
    EXPECT_EQ(c.slot, 25);
    callSlot<HRESULT>(a, 26, ULONG{0}, none<ENTRYID>());
    EXPECT_EQ(c.slot, 26);
    callSlot<HRESULT>(a, 27, none<ULONG>(), none<LPENTRYID>());
    EXPECT_EQ(c.slot, 27);
    callSlot<HRESULT>(a, 28, ULONG{0}, none<ENTRYID>());
    EXPECT_EQ(c.slot, 28);
    callSlot<HRESULT>(a, 29, ULONG{0}, none<LPSRowSet>());
    EXPECT_EQ(c.slot, 29);
    callSlot<HRESULT>(a, 30, ULONG{0}, none<SRowSet>());
    EXPECT_EQ(c.slot, 30);
    callSlot<HRESULT>(a, 31, ULONG{0}, none<SPropTagArray>(), none<ADRLIST>());
    EXPECT_EQ(c.slot, 31);
}

template <class I>
void expectEntriesSlots() {
    FakeEntries<I> fake;
    expectUnknownSlots<I>(fake);
    expectPropSlots<I>(fake);
    expectContainerSlots<I>(fake);
    I* d = &fake;
    Calls& c = fake.calls;
    callSlot<HRESULT>(d, 19, ULONG{0}, none<ENTRYID>(), ULONG{0}, none<LPMAPIPROP>());
    EXPECT_EQ(c.slot, 19);
    callSlot<HRESULT>(d, 20, none<ENTRYLIST>(), ULONG_PTR{0}, none<IMAPIProgress>(), ULONG{0});
    EXPECT_EQ(c.slot, 20);
    callSlot<HRESULT>(d, 21, none<ENTRYLIST>(), ULONG{0});
    EXPECT_EQ(c.slot, 21);
    callSlot<HRESULT>(d, 22, none<SPropTagArray>(), ULONG{0}, none<ADRLIST>(), none<FlagList>());
    EXPECT_EQ(c.slot, 22);
}

TEST(MapiVtable, DistributionListAndContainerFollowThePublishedOrder) {
    expectEntriesSlots<IDistList>();
    expectEntriesSlots<IABContainer>();
}

TEST(MapiVtable, StreamFollowsThePublishedOrder) {
    FakeStream fake;
    expectUnknownSlots<IStream>(fake);
    IStream* s = &fake;
    Calls& c = fake.calls;
    char buffer[8] = {};
    callSlot<HRESULT>(s, 3, static_cast<void*>(buffer), ULONG{8}, none<ULONG>());
    EXPECT_EQ(c.slot, 3);
    EXPECT_EQ(c.arg, 8u);
    callSlot<HRESULT>(s, 4, static_cast<const void*>(buffer), ULONG{4096}, none<ULONG>());
    EXPECT_EQ(c.slot, 4);
    EXPECT_EQ(c.arg, 4096u);
    LARGE_INTEGER to = {};
    to.QuadPart = 0x1122334455;
    callSlot<HRESULT>(s, 5, to, DWORD{STREAM_SEEK_SET}, none<ULARGE_INTEGER>());
    EXPECT_EQ(c.slot, 5);
    EXPECT_EQ(c.arg, ULONG_PTR{0x1122334455});
    callSlot<HRESULT>(s, 6, ULARGE_INTEGER{});
    EXPECT_EQ(c.slot, 6);
    callSlot<HRESULT>(s, 7, none<IStream>(), ULARGE_INTEGER{}, none<ULARGE_INTEGER>(),
                      none<ULARGE_INTEGER>());
    EXPECT_EQ(c.slot, 7);
    callSlot<HRESULT>(s, 8, DWORD{STGC_OVERWRITE});
    EXPECT_EQ(c.slot, 8);
    EXPECT_EQ(c.arg, static_cast<ULONG_PTR>(STGC_OVERWRITE));
    callSlot<HRESULT>(s, 9);
    EXPECT_EQ(c.slot, 9);
    callSlot<HRESULT>(s, 10, ULARGE_INTEGER{}, ULARGE_INTEGER{}, DWORD{0});
    EXPECT_EQ(c.slot, 10);
    callSlot<HRESULT>(s, 11, ULARGE_INTEGER{}, ULARGE_INTEGER{}, DWORD{0});
    EXPECT_EQ(c.slot, 11);
    callSlot<HRESULT>(s, 12, none<STATSTG>(), DWORD{STATFLAG_NONAME});
    EXPECT_EQ(c.slot, 12);
    callSlot<HRESULT>(s, 13, none<IStream*>());
    EXPECT_EQ(c.slot, 13);
}

TEST(MapiVtable, ProgressAndAdviseSinkFollowThePublishedOrder) {
    FakeProgress progress;
    expectUnknownSlots<IMAPIProgress>(progress);
    IMAPIProgress* p = &progress;
    callSlot<HRESULT>(p, 3, ULONG{42}, ULONG{1}, ULONG{2});
    EXPECT_EQ(progress.calls.slot, 3);
    EXPECT_EQ(progress.calls.arg, 42u);
    for (int slot = 4; slot <= 6; ++slot) {
        callSlot<HRESULT>(p, slot, none<ULONG>());
        EXPECT_EQ(progress.calls.slot, slot);
    }
    callSlot<HRESULT>(p, 7, none<ULONG>(), none<ULONG>(), none<ULONG>());
    EXPECT_EQ(progress.calls.slot, 7);

    FakeSink sink;
    expectUnknownSlots<IMAPIAdviseSink>(sink);
    EXPECT_EQ(callSlot<ULONG>(static_cast<IMAPIAdviseSink*>(&sink), 3, ULONG{2},
                              none<NOTIFICATION>()),
              0u);
    EXPECT_EQ(sink.calls.slot, 3);
    EXPECT_EQ(sink.calls.arg, 2u);
}

}  // namespace
