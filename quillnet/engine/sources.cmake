# Protocol engine: transports, protocol clients, decoders (plain C++).
target_sources(quillnet_core PRIVATE)
