// The machine-level glue: the reset vector, SEC's switch from real mode to
// flat 32-bit protected mode and its stack in RAM, the exception entry stubs
// and the call into a module on its own stack.
#include "Core.h"
#include "Report.h"

// The processor starts at 0xFFFFFFF0 in real mode with CS based at
// 0xFFFF0000, so the real-mode part lies in that top segment and addresses
// its GDT pointer relative to it. The GDT is flat 4 GiB code (0x08) and data
// (0x10); its accessed bits are preset because flash cannot take the
// processor's write. The core's own GDT in RAM replaces it later.
asm(R"(
  .section .resetvector, "ax"
  .code16
  .globl ResetVector
ResetVector:
  jmp Sec16

  .section .sec16, "ax"
Sec16:
  cli
  cld
  lgdtl %cs:(SecGdtPointer - 0xFFFF0000)
  mov %cr0, %eax
  and $0x9FFFFFFF, %eax
  or $0x00000001, %eax
  mov %eax, %cr0
  ljmpl $0x08, $Sec32
  .balign 8
SecGdt:
  .quad 0x0000000000000000
  .quad 0x00CF9B000000FFFF
  .quad 0x00CF93000000FFFF
SecGdtPointer:
  .word SecGdtPointer - SecGdt - 1
  .long SecGdt
  .code32

  .text
Sec32:
  mov $0x10, %cx
  mov %cx, %ds
  mov %cx, %es
  mov %cx, %fs
  mov %cx, %gs
  mov %cx, %ss
  # The core's data and stacks lie from 1 MiB up to CoreBssEnd. CMOS 0x30
  # and 0x31 hold the KiB of memory above 1 MiB (at most 65535, which is
  # plenty); with too little, the refusal runs on a stack in conventional
  # memory, which every PC has, and nothing is written above 1 MiB.
  mov $0x30, %al
  out %al, $0x70
  in $0x71, %al
  mov %al, %bl
  mov $0x31, %al
  out %al, $0x70
  in $0x71, %al
  mov %al, %bh
  movzwl %bx, %ebx
  shl $10, %ebx
  add $0x100000, %ebx
  cmp $CoreBssEnd, %ebx
  jae 1f
  mov $0x80000, %esp
  push %ebx
  call RefuseMemory
1:
  mov $CoreDataLoad, %esi
  mov $CoreDataStart, %edi
  mov $CoreDataEnd, %ecx
  sub %edi, %ecx
  rep movsb
  mov $CoreBssStart, %edi
  mov $CoreBssEnd, %ecx
  sub %edi, %ecx
  xor %eax, %eax
  rep stosb
  mov $CoreStack + 16384, %esp
  call CoreMain
2:
  cli
  hlt
  jmp 2b
)");

// Exception stubs: each pushes an error code (0 where the processor pushes
// none) and its vector, saves the registers and hands the frame to
// OnException, which reports and ends the run. The module's data segments
// are not trusted, and a fault raised while a fault is being reported goes
// to OnFaultInFaultReport, which says so in one line; a fault in that too
// ends the run without another word.
asm(R"(
  .macro ExceptionNoCode Vector
  .text
ExceptionEntry\Vector:
  push $0
  push $\Vector
  jmp ExceptionCommon
  .section .rodata.exceptions, "a"
  .long ExceptionEntry\Vector
  .endm

  .macro ExceptionWithCode Vector
  .text
ExceptionEntry\Vector:
  push $\Vector
  jmp ExceptionCommon
  .section .rodata.exceptions, "a"
  .long ExceptionEntry\Vector
  .endm

  .section .rodata.exceptions, "a"
  .balign 4
  .globl ExceptionEntries
ExceptionEntries:
  ExceptionNoCode 0
  ExceptionNoCode 1
  ExceptionNoCode 2
  ExceptionNoCode 3
  ExceptionNoCode 4
  ExceptionNoCode 5
  ExceptionNoCode 6
  ExceptionNoCode 7
  ExceptionWithCode 8
  ExceptionNoCode 9
  ExceptionWithCode 10
  ExceptionWithCode 11
  ExceptionWithCode 12
  ExceptionWithCode 13
  ExceptionWithCode 14
  ExceptionNoCode 15
  ExceptionNoCode 16
  ExceptionWithCode 17
  ExceptionNoCode 18
  ExceptionNoCode 19
  ExceptionNoCode 20
  ExceptionWithCode 21

  .text
ExceptionCommon:
  pushal
  mov $0x10, %ax
  mov %ax, %ds
  mov %ax, %es
  incl FaultDepth
  mov %esp, %eax
  push %eax
  cmpl $1, FaultDepth
  jne 4f
  mov %eax, OuterFault
  call OnException
4:
  cmpl $2, FaultDepth
  jne 5f
  call OnFaultInFaultReport
5:
  movb $0x22, %al
  outb %al, $0xF4
  call EndBochsSimulation
6:
  cli
  hlt
  jmp 6b
)");
static_assert(FailCode == 0x22 && DebugExitPort == 0xF4, "the stubs above end the run with these literals");

// The breakpoint trap stands for a debugger that resumes at once. Only the
// processor's 12-byte frame lands on the module's stack; the handler runs on
// a stack of its own so that the module's high-water mark stays its own.
asm(R"(
  .text
  .globl BreakpointEntry
BreakpointEntry:
  mov %esp, BreakpointInterruptedStack
  mov $BreakpointStack + 4096, %esp
  pushal
  pushl BreakpointInterruptedStack
  call OnBreakpoint
  add $4, %esp
  popal
  mov BreakpointInterruptedStack, %esp
  iret
)");

// CallModuleEntry(Entry, FileHandle, PeiServices, StackTop): calls the entry
// point on the painted stack with the callee-saved registers set to markers,
// and keeps what they hold on return so the caller can check the IA32
// calling convention.
asm(R"(
  .text
  .globl CallModuleEntry
CallModuleEntry:
  push %ebp
  push %ebx
  push %esi
  push %edi
  mov 20(%esp), %eax
  mov 24(%esp), %ecx
  mov 28(%esp), %edx
  mov %esp, ModuleCall + 0
  mov 32(%esp), %esp
  push %edx
  push %ecx
  mov $0xB0B0B0B0, %ebx
  mov $0x51515151, %esi
  mov $0xD1D1D1D1, %edi
  mov $0xEBEBEBEB, %ebp
  cld
  call *%eax
  mov %ebx, ModuleCall + 4
  mov %esi, ModuleCall + 8
  mov %edi, ModuleCall + 12
  mov %ebp, ModuleCall + 16
  mov %esp, ModuleCall + 20
  pushf
  popl ModuleCall + 24
  mov ModuleCall + 0, %esp
  pop %edi
  pop %esi
  pop %ebx
  pop %ebp
  ret
)");
