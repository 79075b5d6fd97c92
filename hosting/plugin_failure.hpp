#pragma once

// An exception a plug-in throws may live in the plug-in's own library (each Windows module has
// its own runtime), so it must be done with before that library can be unloaded. These make it
// one of ours while the library is still loaded.

#include <nlohmann/json.hpp>

#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

namespace velkaphon::rack {

// One of the control side's sentences.
[[noreturn]] inline void fail(const char* sentence) {
    throw std::runtime_error(sentence);
}

// Runs body; on failure runs undo, then throws again: the JSON library's errors as they are
// (they come from our own reading of a configuration), everything else as a std::runtime_error
// of ours with the same text, or with `unknownFailure` when it has none.
template <class Body, class Undo>
void runUndoingOnFailure(Body&& body, Undo&& undo, const char* unknownFailure) {
    std::exception_ptr ours;
    std::optional<std::string> text;
    try {
        std::forward<Body>(body)();
        return;
    } catch (const nlohmann::json::exception&) {
        ours = std::current_exception();
    } catch (const std::exception& error) {
        text = error.what();
    } catch (...) {
        text = unknownFailure;
    }
    std::forward<Undo>(undo)();
    if (ours) {
        std::rethrow_exception(ours);
    }
    throw std::runtime_error(*text);
}

// The same with nothing to undo.
template <class Body>
void runTranslatingFailure(Body&& body, const char* unknownFailure) {
    runUndoingOnFailure(
        std::forward<Body>(body), [] {}, unknownFailure);
}

// Runs a call whose failure is of no interest, as on the way out; never throws.
template <class Call>
void callIgnoringFailure(Call&& call) noexcept {
    try {
        std::forward<Call>(call)();
    } catch (...) {
        // Whatever it was is done with here, while its library is still loaded.
    }
}

} // namespace velkaphon::rack
