# The sandbox network: sources and libraries the relay adds to its own targets.
find_package(ZLIB REQUIRED)

set(QUILLET_SANDBOX_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/Sandbox.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SandboxAdapter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SandboxCrypto.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SandboxDemo.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SandboxPictures.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SandboxText.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SqliteSandboxStore.cpp
)
set(QUILLET_SANDBOX_LIBS ZLIB::ZLIB OpenSSL::Crypto SQLite::SQLite3)
