// The pinyin readings table (format in tools/gen-pinyin-table.py), linked
// in as read-only data. Its arrays start on 8-byte boundaries within the
// file, so the table itself is 8-byte aligned. The build defines
// QV_PINYIN_BIN as the quoted path of pinyin.bin.
#ifndef QV_PINYIN_BIN
#error "QV_PINYIN_BIN must name pinyin.bin"
#endif

        .section .rodata
        .balign 8
        .globl  qvPinyinBegin
        .hidden qvPinyinBegin
        .type   qvPinyinBegin, @object
qvPinyinBegin:
        .incbin QV_PINYIN_BIN
        .globl  qvPinyinEnd
        .hidden qvPinyinEnd
qvPinyinEnd:
        .size   qvPinyinBegin, qvPinyinEnd - qvPinyinBegin

        .section .note.GNU-stack,"",@progbits
