// Include last in a source file: calls that write without a size limit do not
// compile in this program.
#pragma once
#pragma GCC poison strcpy strcat sprintf vsprintf gets lstrcpyA lstrcpyW lstrcatA lstrcatW wsprintfA wsprintfW
