// Native stand-in for the TCP transport (quillnet/engine/transport.cpp):
// every connection reaches the scripted server of scripted_server.h.
#include "scripted_server.h"

namespace quillnet::engine {

IoResult connect_tcp(const std::string&, unsigned short, const Timeouts&, std::unique_ptr<Transport>& out) {
    fuzz::ScriptedServer* server = fuzz::scripted_server();
    if (!server || server->at == server->script.size()) return {IoStatus::failed, WSAECONNREFUSED};
    ++server->connects;
    out = std::make_unique<fuzz::ScriptedTransport>(*server);
    return IoResult::success();
}

}  // namespace quillnet::engine
