#pragma once

#include "audio/audio_backend.hpp"
#include "audio/hresult.hpp"

namespace velkaphon::rack {

// [worker] The body for one endpoint: set-up and negotiation, "prepared", the wait for the
// activation event, then streaming until stop or fault. The master render endpoint's worker is
// the rack's audio thread. Every outcome is left in the worker's fields; nothing is thrown.
void runEndpointWorker(AudioBackend& backend, EndpointWorker& worker) noexcept;

// [worker] (or the master's, for a secondary) The one fault path: records the HRESULT
// (E_FAIL for a non-failure code), counts an xrun, stops the aggregate when the worker is the
// master, and releases whoever waits for "prepared".
void failEndpoint(AudioBackend& backend, EndpointWorker& worker, Hresult result) noexcept;

} // namespace velkaphon::rack
