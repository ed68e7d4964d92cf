/* A C host built against the installed library: distorts a tiny WAV file. */
#include <stdio.h>
#include <string.h>

#include <VelorikWAVDistortion.h>

static void Widen(const char* ascii, VwdChar16* out) {
    while ((*out++ = (VwdChar16)(unsigned char)*ascii++) != 0) {
    }
}

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    VwdChar16 in[1024], out[1024];
    if (strlen(argv[1]) >= 1024 || strlen(argv[2]) >= 1024) return 2;
    Widen(argv[1], in);
    Widen(argv[2], out);
    const int32_t status = WAVDistortion(in, out, 100);
    printf("status %d\n", (int)status);
    return status == StatusSuccess ? 0 : 1;
}
