// A small streaming JSON writer for `show --json`: objects, arrays, strings (escaped),
// integers and booleans, with two-space indentation.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace qvm::cli {

class JsonWriter {
  public:
    explicit JsonWriter(std::ostream& out) : out_(out) {}
    ~JsonWriter();  // ends with a newline once everything is closed

    JsonWriter& BeginObject();
    JsonWriter& EndObject();
    JsonWriter& BeginArray();
    JsonWriter& EndArray();
    // The key of the next value inside an object.
    JsonWriter& Key(std::string_view key);
    JsonWriter& String(std::string_view value);
    JsonWriter& Int(long long value);
    JsonWriter& Bool(bool value);
    JsonWriter& Null();

  private:
    void BeforeValue();
    void NewLine();

    std::ostream& out_;
    // One entry per open container: true for an object; `first_` says whether it holds
    // nothing yet.
    std::vector<bool> isObject_;
    std::vector<bool> first_;
    bool afterKey_ = false;
    bool wroteSomething_ = false;
};

// The JSON text of a string, quotes included.
std::string JsonQuote(std::string_view text);

}  // namespace qvm::cli
