// Fixture of the upload tests against the capture server: `upload_` plays
// the configured address, `node_` the data node every best node query
// names; an object client signs with the wire-check keys and records its
// progress reports.
#ifndef ORCA_TEST_UPLOAD_UPLOADCAPTURETEST_H_
#define ORCA_TEST_UPLOAD_UPLOADCAPTURETEST_H_

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "CaptureServer.h"
#include "OrcaCloudStorage/StorageClient.h"
#include "UploadTestUtil.h"
#include "WireCheck.h"

namespace orca_test {

class UploadCaptureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    upload_.Start();
    node_.Start();
    Orca::CloudStorage::SStorageServerConfig config;
    config.ip = "127.0.0.1";
    config.upload_port = static_cast<uint32_t>(upload_.port());
    config.download_port = config.upload_port;
    config.pool_name = "p1";
    config.ak = kAccessKey;
    config.sk = kSecretKey;
    config.progress_callback = progress_.Callback();
    client_ = std::make_unique<Orca::CloudStorage::CObjectClient>(config);
  }

  // Queues the answer to a best node query.
  void ExpectBestNode() {
    upload_.Enqueue(XmlReply(200, "<BestNodeInfo><Location>127.0.0.1:" +
                                      std::to_string(node_.port()) + "</Location></BestNodeInfo>"));
  }
  // Queues the answers that open a multipart upload.
  void ExpectMultipart(const std::string& upload_id) {
    ExpectBestNode();
    upload_.Enqueue(XmlReply(200, "<InitiateMultipartUploadResult><UploadId>" + upload_id +
                                      "</UploadId></InitiateMultipartUploadResult>"));
  }
  // The recorded error message; its code in `code`.
  std::string Error(int32_t& code) const {
    std::string msg;
    client_->GetLastError(code, msg);
    return msg;
  }

  TempDir dir_;
  CaptureServer upload_;
  CaptureServer node_;
  ProgressLog progress_;
  std::unique_ptr<Orca::CloudStorage::CObjectClient> client_;
};

}  // namespace orca_test

#endif  // ORCA_TEST_UPLOAD_UPLOADCAPTURETEST_H_
