// The ZISORT table (pinyin ranks of U+4E00..U+9FA5), linked in as read-only
// data. The build defines QV_ZISORT_BIN as the quoted path of zisort.bin.
#ifndef QV_ZISORT_BIN
#error "QV_ZISORT_BIN must name zisort.bin"
#endif

        .section .rodata
        .balign 2
        .globl  qvZisortBegin
        .hidden qvZisortBegin
        .type   qvZisortBegin, @object
qvZisortBegin:
        .incbin QV_ZISORT_BIN
        .globl  qvZisortEnd
        .hidden qvZisortEnd
qvZisortEnd:
        .size   qvZisortBegin, qvZisortEnd - qvZisortBegin

        .section .note.GNU-stack,"",@progbits
