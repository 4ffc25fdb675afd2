#include <SupportDefs.h>

#include <cerrno>

status_t status_from_errno(int error)
{
	switch (error) {
		case 0:
			return B_OK;
		case ENOENT:
			return B_ENTRY_NOT_FOUND;
		case EACCES:
		case EPERM:
			return B_PERMISSION_DENIED;
		case EEXIST:
			return B_FILE_EXISTS;
		case ENOSPC:
		case EDQUOT:
			return B_DEVICE_FULL;
		case EROFS:
			return B_READ_ONLY_DEVICE;
		case EISDIR:
			return B_IS_A_DIRECTORY;
		case ENOTDIR:
			return B_NOT_A_DIRECTORY;
		case ENOTEMPTY:
			return B_DIRECTORY_NOT_EMPTY;
		case ENAMETOOLONG:
			return B_NAME_TOO_LONG;
		case ENOTSUP:
#if EOPNOTSUPP != ENOTSUP
		case EOPNOTSUPP:
#endif
			return B_NOT_SUPPORTED;
		case ENOMEM:
			return B_NO_MEMORY;
		case ELOOP:
			return B_LINK_LIMIT;
		case EBADF:
			return B_FILE_ERROR;
		case EMFILE:
		case ENFILE:
			return B_NO_MORE_FDS;
		case EINVAL:
			return B_BAD_VALUE;
		case EINTR:
			return B_INTERRUPTED;
		case EAGAIN:
			return B_WOULD_BLOCK;
		case ETIMEDOUT:
			return B_TIMED_OUT;
		case EBUSY:
		case ETXTBSY:
			return B_BUSY;
		case ERANGE:
			return B_BUFFER_OVERFLOW;
		case E2BIG:
			return B_BUFFER_OVERFLOW;
		case EIO:
			return B_IO_ERROR;
		case ESRCH:
			return B_BAD_TEAM_ID;
		default:
			return B_ERROR;
	}
}
