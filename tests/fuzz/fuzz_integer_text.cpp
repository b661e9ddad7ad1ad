// The options' and parameters' integer reading (IntegerText): any text, both syntaxes.
#include "app/IntegerText.h"
#include "tests/fuzz/FuzzCheck.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string text = fuzz::Text(data, size);
    const IntegerRead strict = ReadInteger(text, IntegerSyntax::Strict);
    const IntegerRead parameter = ReadInteger(text, IntegerSyntax::Parameter);
    // The command line reads every text the dialog reads, to the same value.
    if (strict.valid)
        fuzz::Check(parameter.valid && parameter.value == strict.value,
                    "a strict integer reads the same as a parameter");
    // A valid value written in decimal reads back as itself.
    if (parameter.valid) {
        const IntegerRead again =
            ReadInteger(std::to_string(parameter.value), IntegerSyntax::Strict);
        fuzz::Check(again.valid && again.value == parameter.value, "decimal round trip");
    }
    fuzz::Check(!text.empty() || (!strict.valid && strict.value == 0), "empty text is invalid");
    return 0;
}
