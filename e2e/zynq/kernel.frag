# SPDX-License-Identifier: MIT
# The guest kernel: allnoconfig plus the Zynq platform with its console
# UART, the Cadence SPI controller under spidev, and an initramfs. No block
# layer or SD card: with the Arasan SDHCI driver about half of the boots hang
# on this QEMU, so the results leave through semihosting (guest/tohost.c).
CONFIG_MMU=y
CONFIG_ARCH_MULTIPLATFORM=y
CONFIG_ARCH_MULTI_V7=y
CONFIG_ARCH_ZYNQ=y
CONFIG_AEABI=y
CONFIG_VFP=y
CONFIG_VFPv3=y
CONFIG_NEON=y
CONFIG_BLK_DEV_INITRD=y
CONFIG_BINFMT_ELF=y
CONFIG_BINFMT_SCRIPT=y
CONFIG_PROC_FS=y
CONFIG_SYSFS=y
CONFIG_DEVTMPFS=y
CONFIG_DEVTMPFS_MOUNT=y
CONFIG_TTY=y
CONFIG_SERIAL_XILINX_PS_UART=y
CONFIG_SERIAL_XILINX_PS_UART_CONSOLE=y
CONFIG_SPI=y
CONFIG_SPI_MASTER=y
CONFIG_SPI_CADENCE=y
CONFIG_SPI_SPIDEV=y
CONFIG_PRINTK=y
# The device tree's rng-seed counts as entropy, so that getrandom() does not
# block after boot: the board has no source of randomness. The command
# line's random.trust_bootloader comes too late, after the tree is read.
CONFIG_RANDOM_TRUST_BOOTLOADER=y
CONFIG_FUTEX=y
CONFIG_POSIX_TIMERS=y
CONFIG_MULTIUSER=y
