// A merge without a host: templates are put straight into mergeParam, records into the
// record store, and events go to a capture instead of a client process.
#pragma once

#include <AEHelpers.h>
#include <MacMemory.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "clients/ClientConnection.h"
#include "clients/EmailClients.h"
#include "merge/MergePreparation.h"
#include "merge/MergedMessage.h"
#include "send/MessageEvent.h"
#include "send/SendDispatcher.h"
#include "store/Globals.h"
#include "store/Preferences.h"
#include "store/RecordStore.h"
#include "support/ErrorReporting.h"
#include "tests/send/EventCapture.h"

class MergeState : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = std::filesystem::temp_directory_path() / ("qc-merge-" + std::to_string(::getpid()));
    std::filesystem::create_directories(home_);
    ::setenv("QUILLCAST_HOME", home_.c_str(), 1);
    emailClientSend = CaptureSend;
    ASSERT_TRUE(InitDictionary(&globals.records));
  }

  void TearDown() override {
    FinishEmailClientConnection();
    KillDictionary(&globals.records);
    emailClientSend = SendEmailClientEventNow;
    ClearCapture();
    std::filesystem::remove_all(home_);
  }

  void SetOptionalTemplate(UInt16 index, const char *text) {
    DisposeHandle(mergeParam[index]);
    mergeParam[index] = nullptr;
    if (text == nullptr) return;
    Size size = Size(std::strlen(text)) + 1;
    mergeParam[index] = NewHandle(size);
    std::memcpy(*mergeParam[index], text, size_t(size));
  }
  void SetTemplate(UInt16 index, const std::string &text) { SetOptionalTemplate(index, text.c_str()); }

  // A prepared merge into a client of this signature, without a real process behind it.
  void Connect(OSType signature, const char *fieldList) {
    ASSERT_TRUE(PrepareMergePlaces(fieldList));
    ReadMergeOptions();
    OSErr status = noErr;
    connection =
        reinterpret_cast<EmailClientConnection *>(AllocPtrFinal(&status, sizeof(EmailClientConnection)));
    ASSERT_NE(connection, nullptr);
    std::memset(static_cast<void *>(connection), 0, sizeof(EmailClientConnection));
    connection->signature = signature;
    connection->process = {0, 0x7FFFFFF0};
    connectionMessages = 0;
  }

  void AddRecord(const std::string &bytes) {
    ASSERT_TRUE(DictionaryAppend(&globals.records));
    ASSERT_TRUE(DictionaryWrite(&globals.records, DictionaryItems(&globals.records) - 1, bytes.data(),
                                UInt32(bytes.size())));
  }

  std::filesystem::path home_;
};
