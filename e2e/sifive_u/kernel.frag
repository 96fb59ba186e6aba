# SPDX-License-Identifier: MIT
# The guest kernel for QEMU's sifive_u board: allnoconfig plus a 64-bit
# RISC-V SiFive platform with the SBI console (hvc0: QEMU 10's SiFive UART
# drops characters that user space writes to ttySIF0), the SiFive SPI
# controller under spidev, an initramfs, and the GPIO simulator (gpio-sim,
# set up through configfs) with the GPIO character device, for the spidev
# backend's reset line.
CONFIG_ARCH_RV64I=y
CONFIG_MMU=y
CONFIG_SOC_SIFIVE=y
CONFIG_NONPORTABLE=y
CONFIG_FPU=y
CONFIG_COMMON_CLK=y
CONFIG_BLK_DEV_INITRD=y
CONFIG_BINFMT_ELF=y
CONFIG_BINFMT_SCRIPT=y
CONFIG_PROC_FS=y
CONFIG_SYSFS=y
CONFIG_DEVTMPFS=y
CONFIG_DEVTMPFS_MOUNT=y
CONFIG_TTY=y
CONFIG_RISCV_SBI_V01=y
CONFIG_HVC_RISCV_SBI=y
CONFIG_SPI=y
CONFIG_SPI_MASTER=y
CONFIG_SPI_SIFIVE=y
CONFIG_SPI_SPIDEV=y
CONFIG_GPIOLIB=y
CONFIG_GPIO_CDEV=y
CONFIG_GPIO_SIM=y
CONFIG_CONFIGFS_FS=y
CONFIG_PRINTK=y
# The device tree's rng-seed counts as entropy, so that getrandom() does not
# block after boot: the board has no source of randomness. The command
# line's random.trust_bootloader comes too late, after the tree is read.
CONFIG_RANDOM_TRUST_BOOTLOADER=y
CONFIG_FUTEX=y
CONFIG_POSIX_TIMERS=y
CONFIG_MULTIUSER=y
