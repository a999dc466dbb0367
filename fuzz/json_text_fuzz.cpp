// Fuzz target: JSON text from outside as lumets reads it (flow files, the
// preview's request bodies). The input is the text. The bounded reader must
// either give a value or refuse the text with a one-line UserError, and it must
// agree with a reference built on the JSON library's own event parser: a text
// is accepted exactly when it is well-formed, nests at most MaxJsonDepth levels
// and repeats no key within an object. An accepted value prints and reads back
// to an equal value. Any other exception, crash or hang is a fault.
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "app/io/errors.h"
#include "app/io/json_text.h"

namespace fuzzing {

namespace {

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "json_text_fuzz: %s\n", what);
        std::abort();
    }
}

// The same three rules, from the parser's events (keys arrive decoded).
class Reference : public nlohmann::json_sax<lumets::Json> {
public:
    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t) override { return true; }
    bool number_unsigned(number_unsigned_t) override { return true; }
    bool number_float(number_float_t, const string_t&) override { return true; }
    bool string(string_t&) override { return true; }
    bool binary(binary_t&) override { return true; }
    bool start_object(std::size_t) override { return Open(true); }
    bool key(string_t& k) override { return Keys.back().insert(k).second; }
    bool end_object() override { return Close(); }
    bool start_array(std::size_t) override { return Open(false); }
    bool end_array() override { return Close(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

private:
    bool Open(bool) {
        if (Keys.size() >= size_t(lumets::MaxJsonDepth)) return false;
        Keys.emplace_back();
        return true;
    }
    bool Close() {
        Keys.pop_back();
        return true;
    }
    std::vector<std::set<std::string>> Keys;
};

}  // namespace

int RunJsonTextInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    Reference reference;
    const bool expected = lumets::Json::sax_parse(text, &reference);
    try {
        const lumets::Json value = lumets::ParseJsonText(text, "fuzz.json");
        Check(expected, "accepted a text the reference refuses");
        Check(lumets::Json::parse(value.dump()) == value, "the value does not read back from its text");
    } catch (const lumets::UserError& e) {
        Check(!expected, "refused a text the reference accepts");
        const std::string message = e.what();
        Check(message.rfind("fuzz.json:", 0) == 0, "the message does not start with the text's name");
        Check(message.find('\n') == std::string::npos, "the message is more than one line");
    }
    return 0;
}

}  // namespace fuzzing

#ifndef LUMETS_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzing::RunJsonTextInput(data, size);
}
#endif
