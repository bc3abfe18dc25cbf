// The public operations of the fault matrix: each readies what its call
// needs, makes the call with the fault on, and afterwards (faults off)
// checks what a success claims or what a failure must leave alone.
#ifndef ORCA_TEST_FAULTS_MATRIXOPERATIONS_H_
#define ORCA_TEST_FAULTS_MATRIXOPERATIONS_H_

#include <cstdint>
#include <memory>
#include <string>

#include "Emulator.h"
#include "FaultMatrix.h"
#include "OrcaCloudStorage/StorageClient.h"

namespace orca_test {

struct ErrorState {
  int32_t code = 0;
  int32_t subcode = 0;
  std::string message;
};

// What one cell's call works with.
struct CellEnv {
  Emulator& emulator;
  // The client under test's configuration: objects or pictures, with dead
  // ports when nothing must answer.
  Orca::CloudStorage::SStorageServerConfig config;
  Orca::CloudStorage::SStorageServerInfo version_server;
  std::string dir;  // a private folder for local files
  std::string tag;  // unique per cell
};

class MatrixOperation {
 public:
  virtual ~MatrixOperation() = default;

  virtual bool https() const { return false; }
  virtual bool picture() const { return false; }
  // Faults off: stores what the call needs (an object to remove, a picture).
  virtual void Prepare(const CellEnv& /*env*/) {}
  // The object URL that the download and removal requests name, if any.
  virtual std::string ObjectUrl() const { return ""; }
  // The public call(s) with the fault on; `error` gets the error state.
  virtual bool Call(const CellEnv& env, ErrorState& error) = 0;
  // Faults off, after a reported success: what it stored or received is
  // whole (`expect.body`: the bytes the fault sent instead of the object).
  virtual void CheckSuccess(const CellEnv& env, const Expect& expect) = 0;
  // After a failure: the call's out arguments are as they were.
  virtual void CheckFailure(const CellEnv& env) = 0;
  // The bytes an object stored by this operation must hold; null for an
  // operation that stores no object.
  virtual const std::string* StoredObject() const { return nullptr; }
  // The same for a stored picture.
  virtual const std::string* StoredPicture() const { return nullptr; }
};

std::unique_ptr<MatrixOperation> MakeOperation(Op op);

// Faults off: the whole object at `url`, through a clean client; nothing
// when it cannot be read.
bool ReadObject(Emulator& emulator, const std::string& url, std::string& bytes);
bool ReadPicture(Emulator& emulator, const std::string& url, std::string& bytes);

}  // namespace orca_test

#endif  // ORCA_TEST_FAULTS_MATRIXOPERATIONS_H_
