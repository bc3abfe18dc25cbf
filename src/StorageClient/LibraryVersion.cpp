// The version the library was built as, for hosts to compare with the header
// they were built against.
#include "OrcaCloudStorage/StorageClient.h"

namespace Orca {
namespace CloudStorage {

const char* GetLibraryVersion() { return ORCA_CS_VERSION_STRING; }

}  // namespace CloudStorage
}  // namespace Orca
