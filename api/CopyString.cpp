#include "api/exports.h"
#include "api/field.h"

void CopyString(char* target, const char* source, unsigned int TargetBufLen) {
    CopyField(target, TargetBufLen, source, TargetBufLen, FieldEnd::Open);
}
