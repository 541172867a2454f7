#include "ftpmodule/transfermodule.h"

#include "ftp/curltransferclient.h"

extern "C" __attribute__((visibility("default"))) quendle::TransferClient*
quendle_create_transfer_client_2()
{
    return new quendle::CurlTransferClient();
}

// The entry point has the type the loader calls it with.
[[maybe_unused]] static constexpr quendle::CreateTransferClient kEntryPoint =
    &quendle_create_transfer_client_2;
